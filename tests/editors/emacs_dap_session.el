;;; emacs_dap_session.el --- velmorine-dap.el and dap-mode in batch mode -*- lexical-binding: t -*-
;; A dap-mode session with `velmorine-dap', started from the package's
;; template and provider: a breakpoint set with dap-mode's command, the stop
;; there (and the cursor on its line), the locals by the scopes and
;; variables requests, a step, a continue to the end, and the displays in
;; the session's output buffer; then a script with a syntax error, whose
;; launch fails with the compiler's message.
;; Environment: VELM_DAP (the adapter); VELM_DAP_TRACE set prints the messages.

(let ((home (file-name-as-directory (make-temp-file "velm-dap-home" t))))
  ;; dap-mode and lsp-mode keep breakpoints and sessions in files of their own.
  (setq user-emacs-directory home
        dap-breakpoints-file (concat home "dap-breakpoints")
        lsp-session-file (concat home "lsp-session")))
(require 'velmorine-dap)

(load (expand-file-name "velm-checks.el" (file-name-directory load-file-name)) nil t)

(defun velm-wait (predicate)
  "Reads the adapter's output until PREDICATE holds, for 10 seconds at most.
A batch Emacs never goes idle: the process filters run only in here."
  (let ((deadline (+ (float-time) 10)))
    (while (and (not (funcall predicate)) (< (float-time) deadline))
      (accept-process-output nil 0.05))
    (funcall predicate)))

(defvar velm-events nil "The adapter's events, newest first: (event . body).")
(advice-add 'dap--on-event :before
            (lambda (_session event)
              (push (cons (gethash "event" event) (gethash "body" event)) velm-events)))

(defun velm-stop (session)
  "Where SESSION stopped and why, (LINE REASON), once dap-mode has selected the frame."
  (let ((frame (dap--debug-session-active-frame session)))
    (and frame (list (gethash "line" frame)
                     (gethash (dap--debug-session-thread-id session)
                              (dap--debug-session-thread-states session))))))

(defun velm-locals (session)
  "The names of SESSION's frame, by the scopes and variables requests: (NAME VALUE TYPE), sorted."
  (let* ((frame (gethash "id" (dap--debug-session-active-frame session)))
         (scopes (gethash "scopes" (dap-request session "scopes" :frameId frame)))
         (names (seq-find (lambda (scope) (equal (gethash "name" scope) "Names")) scopes))
         (reference (and names (gethash "variablesReference" names)))
         (variables (and reference (gethash "variables" (dap-request session "variables"
                                                                     :variablesReference reference)))))
    (sort (mapcar (lambda (v) (list (gethash "name" v) (gethash "value" v) (gethash "type" v))) variables)
          (lambda (a b) (string< (car a) (car b))))))

(defun velm-debug ()
  "What M-x dap-debug does with the package's template chosen."
  (setq velm-events nil)
  (dap-debug (copy-tree (cdr (assoc "Velmorine: run this script" dap-debug-template-configurations))))
  (dap--cur-session))

(setq dap-print-io (and (getenv "VELM_DAP_TRACE") t)
      dap-inhibit-io nil
      velmorine-dap-program (getenv "VELM_DAP"))
(princ (format "emacs %s, %s\n" emacs-version (locate-library "dap-mode")))
;; A Lisp error ends the session as a failure, with the summary line.
(condition-case err
    (let* ((dir (file-name-as-directory (make-temp-file "velm-dap" t)))
           (path (concat dir "debug.velm")))
      (with-temp-file path
        (insert "start\nstore total = 2\nstore greeting = \"hi\"\n"
                "display total plus 3\ndisplay greeting\nstop\n"))
      (find-file path)
      (goto-char (point-min))
      (forward-line 3)
      (dap-breakpoint-add)
      (goto-char (point-min))
      (let* ((session (velm-debug))
             (buffer (current-buffer)))
        (velm-wait (lambda () (velm-stop session)))
        (velm-same '(4 "breakpoint") (velm-stop session) "stops at the breakpoint on line 4")
        (velm-same '(4 t 4) (let ((set (car (gethash path (dap--debug-session-breakpoints session)))))
                              (list (and set (gethash "line" set)) (and set (gethash "verified" set))
                                    (with-current-buffer buffer (line-number-at-pos))))
                   "the breakpoint is verified on its line, and the cursor is there")
        (velm-same '(("greeting" "\"hi\"" "text") ("total" "2" "number")) (velm-locals session)
                   "the locals: the names stored so far, as display shows them, with their types")
        (dap-next session)
        (velm-wait (lambda () (velm-stop session)))
        (velm-same '(5 "step") (velm-stop session) "dap-next stops on line 5")
        (dap-continue session (dap--debug-session-thread-id session))
        (velm-check (velm-wait (lambda () (not (dap--session-running session))))
                    (format "dap-continue runs to the end (state %s)" (dap--debug-session-state session)))
        (velm-same "5\nhi\n" (with-current-buffer (dap--debug-session-output-buffer session)
                               (buffer-substring-no-properties (point-min) (point-max)))
                   "the output buffer holds the displays, line by line")
        (velm-same '(("stopped" "breakpoint") ("stopped" "step") ("exited" 0))
                   (delq nil (mapcar (lambda (e)
                                       (pcase (car e)
                                         ("stopped" (list "stopped" (gethash "reason" (cdr e))))
                                         ("exited" (list "exited" (gethash "exitCode" (cdr e))))))
                                     (reverse velm-events)))
                   "no stop on entry, a stop at the breakpoint and after the step, exit code 0"))

      ;; A syntax error: the launch fails, with the message dap-mode shows.
      (with-current-buffer (find-file-noselect path)
        (goto-char (point-min))
        (forward-line 3)
        (end-of-line)
        (delete-char -2)
        (save-buffer)
        (let ((session (velm-debug)))
          ;; dap-mode marks the session failed, then its process sentinel terminated.
          (velm-wait (lambda () (dap--debug-session-error-message session)))
          (velm-check (string-prefix-p "Syntax Error: " (or (dap--debug-session-error-message session) ""))
                      (format "a script with a syntax error fails to launch, with the compiler's message (%S)"
                              (dap--debug-session-error-message session)))
          (velm-check (not (assoc "stopped" velm-events)) "and nothing runs"))))
  (error (velm-check nil (format "the session ran to its end (%S)" err))))
(princ (if (zerop velm-failures) "emacs dap session passed\n"
         (format "emacs dap session: %d failure(s)\n" velm-failures)))
(kill-emacs (if (zerop velm-failures) 0 1))
