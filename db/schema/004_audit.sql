-- The audit trail: who wrote, changed, deleted, transmitted and e-mailed each letter, when,
-- from which address, under which token (its name, never the token), with what outcome.
-- Each row is written in the transaction of the change it records. IDACAO: "gravacao",
-- "alteracao", "exclusao", "transmissao" (the letter went into a batch), "resultado" (the
-- authority's answer), "conciliacao" (settled later through the protocol query), "email".
CREATE TABLE AUDITORIA (
    DTHRAUDITORIA   TIMESTAMP     NOT NULL,
    CDEMPRESA       VARCHAR(2),
    CDFILIAL        VARCHAR(4)    NOT NULL,
    NRLANCTONF      VARCHAR(10)   NOT NULL,
    NRSEQCCE        VARCHAR(2),
    IDACAO          VARCHAR(20)   NOT NULL,
    DSRESULTADO     VARCHAR(255),
    NMUSUARIO       VARCHAR(60),
    NMTOKEN         VARCHAR(60),
    DSENDERECO      VARCHAR(64),
    DSREQUISICAO    VARCHAR(40)
);
-- No index: every save writes a row here, and an index would cost each save another page
-- (a fifth more on a busy SQLite server); the report, rare, reads the table through.
