;;; velmorine-mode.el --- Major mode for Velmorine scripts -*- lexical-binding: t -*-

;; Version: 0.1.0
;; Package-Requires: ((emacs "26.1"))
;; Keywords: languages

;;; Commentary:

;; Highlighting, // comments and indentation as `velmorine fmt' writes it
;; (four spaces per level; start, check, count and create open a level,
;; stop and otherwise close one) for .velm files.  With eglot, M-x eglot
;; starts `velmorine lsp' with all of its features: syntax errors and the
;; language's surprises in flymake, hover, definition, completion,
;; `eglot-format-buffer', `eglot-rename', `xref-find-references', imenu.

;;; Code:

(defgroup velmorine nil
  "Velmorine scripts."
  :group 'languages)

(defcustom velmorine-server-program "velmorine"
  "The velmorine executable that eglot starts as `velmorine lsp'."
  :type 'string)

(defcustom velmorine-indent-offset 4
  "Spaces per block level; fmt writes four."
  :type 'integer)

(defconst velmorine--opening-regexp "[ \t]*\\(?:start\\|check\\|count\\|create\\)"
  "Lines that open a block.  Like fmt, a prefix test: \"started\" opens too.")

(defconst velmorine--closing-regexp "[ \t]*\\(?:stop\\|otherwise\\)"
  "Lines that close a block.")

(defconst velmorine--font-lock-keywords
  (let ((word (lambda (words) (concat "\\_<" (regexp-opt words t) "\\_>"))))
    `((,(funcall word '("start" "stop" "check" "otherwise" "count" "from" "to")) . font-lock-keyword-face)
      (,(funcall word '("store" "display" "as" "create" "blueprint" "open" "freeze" "move"))
       . font-lock-builtin-face)
      (,(funcall word '("number" "word" "flag" "list")) . font-lock-type-face)
      (,(funcall word '("yes" "no")) . font-lock-constant-face)
      ("\\_<divided +by" . font-lock-keyword-face)
      (,(funcall word '("plus" "minus" "into" "same" "big" "small")) . font-lock-keyword-face)
      ("\\_<[0-9]+\\(?:\\.[0-9]+\\)?" . font-lock-constant-face)
      ("\\_<store[ \t]+\\([A-Za-z_][A-Za-z0-9_]*\\)" 1 font-lock-variable-name-face)
      ("\\_<count[ \t]+\\([A-Za-z_][A-Za-z0-9_]*\\)" 1 font-lock-variable-name-face)))
  "Highlighting for `velmorine-mode'.")

(defvar velmorine-mode-syntax-table
  (let ((table (make-syntax-table)))
    (modify-syntax-entry ?/ ". 12" table)
    (modify-syntax-entry ?\n ">" table)
    (modify-syntax-entry ?\" "\"" table)
    (modify-syntax-entry ?\\ "\\" table)
    (modify-syntax-entry ?_ "_" table)
    (dolist (c '(?+ ?- ?* ?=)) (modify-syntax-entry c "." table))
    table)
  "Syntax table for `velmorine-mode'.")

(defun velmorine--indentation ()
  "The column fmt gives the current line, from the line above it."
  (save-excursion
    (beginning-of-line)
    (let ((closing (looking-at velmorine--closing-regexp))
          (level 0))
      (when (re-search-backward "^[ \t]*[^ \t\n]" nil t)
        (setq level (current-indentation))
        (when (looking-at velmorine--opening-regexp)
          (setq level (+ level velmorine-indent-offset))))
      (max 0 (if closing (- level velmorine-indent-offset) level)))))

(defun velmorine-indent-line ()
  "Indent the current line as `velmorine fmt' would."
  (interactive)
  (let ((offset (- (current-column) (current-indentation))))
    (indent-line-to (velmorine--indentation))
    (when (> offset 0) (forward-char offset))))

;;;###autoload
(define-derived-mode velmorine-mode prog-mode "Velmorine"
  "Major mode for Velmorine scripts."
  :syntax-table velmorine-mode-syntax-table
  (setq-local comment-start "// ")
  (setq-local comment-start-skip "//+[ \t]*")
  (setq-local comment-end "")
  (setq-local font-lock-defaults '(velmorine--font-lock-keywords))
  (setq-local indent-line-function #'velmorine-indent-line)
  (setq-local indent-tabs-mode nil)
  (setq-local electric-indent-chars (append electric-indent-chars '(?p ?e))))

;;;###autoload
(add-to-list 'auto-mode-alist '("\\.velm\\'" . velmorine-mode))

(defun velmorine--eglot-contact (_interactive)
  "How eglot starts the server; reads `velmorine-server-program' each time.
The initialization options ask the server for all of its features."
  (list velmorine-server-program "lsp" :initializationOptions (list :features "all")))

;;;###autoload
(with-eval-after-load 'eglot
  (add-to-list 'eglot-server-programs '(velmorine-mode . velmorine--eglot-contact)))

(provide 'velmorine-mode)
;;; velmorine-mode.el ends here
