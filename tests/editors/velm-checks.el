;;; velm-checks.el --- the checks that the batch Emacs sessions report -*- lexical-binding: t -*-
;; Each check prints "ok" or "FAIL" and its description; a session ends with
;; the number of failures in `velm-failures'.

(defvar velm-failures 0)
(defun velm-check (ok what)
  (princ (format "%s %s\n" (if ok "ok  " "FAIL") what))
  (unless ok (setq velm-failures (1+ velm-failures))))

(defun velm-same (want got what)
  "Checks that GOT is WANT, showing both when not."
  (unless (equal want got)
    (princ (format "     wanted %S\n     got    %S\n" want got)))
  (velm-check (equal want got) what))

(provide 'velm-checks)
