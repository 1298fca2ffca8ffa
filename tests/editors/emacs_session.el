;;; emacs_session.el --- velmorine-mode and eglot in batch mode -*- lexical-binding: t -*-
;; Faces on the sample, indentation as fmt writes it, and an eglot session
;; with `velmorine lsp' that shuts down without an error.
;; Environment: VELM_EXE (the server), VELM_SAMPLE (tests/editors/sample.velm).

(require 'velmorine-mode)
(require 'eglot)

(defvar velm-failures 0)
(defun velm-check (ok what)
  (princ (format "%s %s\n" (if ok "ok  " "FAIL") what))
  (unless ok (setq velm-failures (1+ velm-failures))))

(defun velm-face-at (text &optional nth)
  "The face at the NTH (default first) occurrence of TEXT."
  (save-excursion
    (goto-char (point-min))
    (search-forward text nil nil (or nth 1))
    (get-text-property (match-beginning 0) 'face)))

(princ (format "emacs %s, %s\n" emacs-version (locate-library "eglot")))
(let* ((exe (getenv "VELM_EXE"))
       (dir (file-name-as-directory (make-temp-file "velm-emacs" t)))
       (path (concat dir "sample.velm"))
       formatted)
  (copy-file (getenv "VELM_SAMPLE") path)
  (call-process exe nil nil nil "fmt" path)
  (setq formatted (with-temp-buffer (insert-file-contents path) (buffer-string)))
  (copy-file (getenv "VELM_SAMPLE") path t)
  (setq velmorine-server-program exe)
  (find-file path)
  (velm-check (eq major-mode 'velmorine-mode) "a .velm file opens in velmorine-mode")
  (font-lock-ensure)
  (dolist (want '(("start" . font-lock-keyword-face)
                  ("store" . font-lock-builtin-face)
                  ("total" . font-lock-variable-name-face)
                  ("plus" . font-lock-keyword-face)
                  ("count" . font-lock-keyword-face)
                  ("\"é😀\"" . font-lock-string-face)
                  ("divided by" . font-lock-keyword-face)
                  ("2 //" . font-lock-constant-face)
                  ("// a comment" . font-lock-comment-delimiter-face)
                  ("a comment" . font-lock-comment-face)))
    (velm-check (eq (velm-face-at (car want)) (cdr want))
                (format "%s has %s (got %S)" (car want) (cdr want) (velm-face-at (car want)))))
  (indent-region (point-min) (point-max))
  (velm-check (equal (buffer-string) formatted) "indent-region indents like fmt")
  (revert-buffer t t)

  ;; An eglot session: connect, one hover, then a shutdown without an error.
  (let* ((server (eglot '(velmorine-mode) (cons 'transient dir) 'eglot-lsp-server
                        (list exe "lsp") "velmorine"))
         (process (jsonrpc--process server))
         (hover (jsonrpc-request server :textDocument/hover
                                 (list :textDocument (list :uri (eglot--path-to-uri path))
                                       :position (list :line 3 :character 1))))
         (shutdown-error nil))
    (princ (format "     hover %s\n" (plist-get (plist-get hover :contents) :value)))
    (velm-check (string-match-p "runs its body \\*\\*once\\*\\*" (plist-get (plist-get hover :contents) :value))
                "eglot hover on count")
    ;; An interactive Emacs sends exit a moment after the shutdown answer; the
    ;; pause makes a server that ends too early fail here as it does there.
    (advice-add 'jsonrpc-notify :before
                (lambda (_connection method &rest _)
                  (when (eq method :exit) (accept-process-output nil 0.5))))
    (condition-case err
        (eglot-shutdown server)
      (error (setq shutdown-error err)))
    (velm-check (null shutdown-error) (format "eglot-shutdown without an error (%S)" shutdown-error))
    ;; Emacs 28's jsonrpc deletes the process right after sending exit, so
    ;; the exit status is its signal, not the server's code: only check it is gone.
    (velm-check (not (process-live-p process)) "the server process is gone"))
  (princ (if (zerop velm-failures) "emacs session passed\n"
           (format "emacs session: %d failure(s)\n" velm-failures)))
  (kill-emacs (if (zerop velm-failures) 0 1)))
