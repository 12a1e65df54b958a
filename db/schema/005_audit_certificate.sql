-- With mutual TLS, the subject of the certificate the client presented, beside its token's
-- name (NULL for a call without one).
ALTER TABLE AUDITORIA ADD COLUMN DSCERTIFICADO VARCHAR(255);
