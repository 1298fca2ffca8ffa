;;; emacs_session.el --- velmorine-mode and eglot in batch mode -*- lexical-binding: t -*-
;; Faces on the sample, indentation as fmt writes it, and an eglot session
;; with `velmorine lsp', started from the package's contact (which asks for
;; all of the server's features): hover, the diagnostics in flymake,
;; formatting, rename, references, imenu, and a shutdown without an error.
;; Environment: VELM_EXE (the server), VELM_SAMPLE (tests/editors/sample.velm).

(require 'velmorine-mode)
(require 'eglot)
(require 'imenu)

(load (expand-file-name "velm-checks.el" (file-name-directory load-file-name)) nil t)

(defun velm-face-at (text &optional nth)
  "The face at the NTH (default first) occurrence of TEXT."
  (save-excursion
    (goto-char (point-min))
    (search-forward text nil nil (or nth 1))
    (get-text-property (match-beginning 0) 'face)))

(defun velm-wait (predicate)
  "Reads the server's output until PREDICATE holds, for 10 seconds at most."
  (let ((deadline (+ (float-time) 10)))
    (while (and (not (funcall predicate)) (< (float-time) deadline))
      (accept-process-output nil 0.05))
    (funcall predicate)))

(defun velm-idle ()
  "What eglot's idle timer does after an edit: sends the changes.
A batch Emacs never goes idle, and eglot sends a request without them."
  (eglot--signal-textDocument/didChange))

(defun velm-goto (line column)
  (goto-char (point-min))
  (forward-line (1- line))
  (move-to-column column))

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

  ;; The session M-x eglot starts: the package's contact for the mode.
  (apply #'eglot (eglot--guess-contact))
  (let* ((server (eglot-current-server))
         (process (jsonrpc--process server))
         (hover (jsonrpc-request server :textDocument/hover
                                 (list :textDocument (list :uri (eglot--path-to-uri path))
                                       :position (list :line 3 :character 1))))
         (shutdown-error nil))
    (velm-check (eglot--server-capable :renameProvider :prepareProvider)
                "the contact's initialization options give the server's full capabilities")
    (princ (format "     hover %s\n" (plist-get (plist-get hover :contents) :value)))
    (velm-check (string-match-p "runs its body \\*\\*once\\*\\*" (plist-get (plist-get hover :contents) :value))
                "eglot hover on count")

    ;; Flymake: the syntax error, and the warnings and notes of the surprises.
    (velm-wait (lambda () (>= (length (flymake-diagnostics)) 5)))
    (let ((shown (sort (mapcar (lambda (d)
                                 (princ (format "     flymake %d %s %s\n"
                                                (line-number-at-pos (flymake-diagnostic-beg d))
                                                (flymake-diagnostic-type d) (flymake-diagnostic-text d)))
                                 (format "%d %s %s" (line-number-at-pos (flymake-diagnostic-beg d))
                                         (flymake-diagnostic-type d)
                                         (and (string-match "\\`velmorine \\[\\([a-z-]+\\)\\]: "
                                                            (flymake-diagnostic-text d))
                                              (match-string 1 (flymake-diagnostic-text d)))))
                               (flymake-diagnostics))
                       #'string<)))
      (velm-same (sort (list "3 eglot-error syntax-error" "4 eglot-note count-runs-once"
                             "6 eglot-warning check-skipped" "8 eglot-warning otherwise-skipped"
                             "12 eglot-note after-stop")
                       #'string<)
                 shown "flymake shows the syntax error, the warnings and the notes"))

    (eglot-format-buffer)
    (velm-same formatted (buffer-string) "eglot-format-buffer writes what fmt writes")
    (velm-idle)

    ;; Rename from the store of total; the comment that mentions it stays.
    (velm-goto 2 10)
    (eglot-rename "sum")
    (velm-same (mapconcat (lambda (line)
                            (let ((code-end (or (string-match "//" line) (length line))))
                              (concat (replace-regexp-in-string "\\_<total\\_>" "sum" (substring line 0 code-end))
                                      (substring line code-end))))
                          (split-string formatted "\n") "\n")
               (buffer-string) "eglot-rename total -> sum changes every use, not the comment")
    (velm-idle)
    (velm-goto 9 17)
    (velm-same '("2:10" "3:12" "9:16")
               (sort (mapcar (lambda (xref)
                               (let ((marker (xref-location-marker (xref-item-location xref))))
                                 (with-current-buffer (marker-buffer marker)
                                   (save-excursion
                                     (goto-char marker)
                                     (format "%d:%d" (line-number-at-pos) (current-column))))))
                             (xref-backend-references (xref-find-backend) "sum"))
                     #'string<)
               "xref finds the uses of sum (line:column)")

    ;; imenu, through eglot's document symbols: the names and the count loop.
    (let (names)
      (cl-labels ((walk (entries)
                    (dolist (entry entries)
                      (cond ((imenu--subalist-p entry) (walk (cdr entry)))
                            ((not (equal (car entry) (car imenu--rescan-item))) (push (car entry) names))))))
        (walk (imenu--make-index-alist t)))
      (velm-same '("count i" "i" "sum") (sort names #'string<) "imenu lists the names and the loop"))

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
