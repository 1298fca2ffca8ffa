;;; velmorine-dap.el --- Debug Velmorine scripts with dap-mode -*- lexical-binding: t -*-

;; Version: 0.1.0
;; Package-Requires: ((emacs "26.1") (dap-mode "0.7"))
;; Keywords: languages, debug

;;; Commentary:

;; `velmorine-dap' for dap-mode, kept out of velmorine-mode.el so that the
;; mode needs no dap-mode.  M-x dap-debug offers "Velmorine: run this
;; script", which runs the current buffer's file; breakpoints are dap-mode's
;; own (`dap-breakpoint-toggle'), and so are stepping, the locals and the
;; output buffer.

;;; Code:

(require 'dap-mode)
(require 'velmorine-mode)

(defcustom velmorine-dap-program "velmorine-dap"
  "The debug adapter executable: a name found on `exec-path', or a path."
  :type 'string
  :group 'velmorine)

(defun velmorine-dap--populate (conf)
  "Completes the launch configuration CONF for `dap-debug'.
The adapter and the script (the buffer's file) are read when the session
starts, so that a changed setting or another buffer is taken into account."
  (let ((program (or (plist-get conf :program) (buffer-file-name)
                     (user-error "velmorine-dap: the buffer visits no file; give the template a :program"))))
    ;; A copy: the template itself keeps no script.
    (setq conf (dap--put-if-absent (copy-sequence conf) :dap-server-path (list velmorine-dap-program)))
    (setq conf (plist-put conf :program (expand-file-name program)))
    ;; A plist's nil goes out as JSON null, and the adapter wants a boolean.
    (plist-put conf :stopOnEntry (if (memq (plist-get conf :stopOnEntry) '(nil :json-false)) :json-false t))))

(dap-register-debug-provider "velmorine" #'velmorine-dap--populate)

(dap-register-debug-template "Velmorine: run this script"
                             (list :type "velmorine"
                                   :request "launch"
                                   :program nil
                                   :stopOnEntry nil))

(provide 'velmorine-dap)
;;; velmorine-dap.el ends here
