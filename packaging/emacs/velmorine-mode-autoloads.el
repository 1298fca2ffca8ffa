;;; velmorine-mode-autoloads.el --- What Emacs loads at startup for velmorine-mode -*- lexical-binding: t -*-

;; package.el reads this file when it activates the installed package (at
;; startup, from the elpa folder beside it); velmorine-mode.el itself is
;; loaded when a .velm file is opened.  These are the forms of the file's
;; ;;;###autoload cookies.

;;; Code:

(add-to-list 'load-path (directory-file-name (file-name-directory load-file-name)))

(autoload 'velmorine-mode "velmorine-mode" "Major mode for Velmorine scripts." t)

(add-to-list 'auto-mode-alist '("\\.velm\\'" . velmorine-mode))

(with-eval-after-load 'eglot
  (add-to-list 'eglot-server-programs '(velmorine-mode . velmorine--eglot-contact)))

;; Local Variables:
;; no-byte-compile: t
;; End:
;;; velmorine-mode-autoloads.el ends here
