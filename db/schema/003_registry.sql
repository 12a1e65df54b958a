-- The authority's registry as the truth: the answers of the tax reform's layouts
-- (protocols of 17 digits, codes of 4), each registration as the authority stated it,
-- letters registered by other systems, and when the registry was last read per invoice.
-- SQLite does not bound VARCHAR lengths: only PostgreSQL widens its columns.
/*postgresql*/ ALTER TABLE CARTACORRECAO ALTER COLUMN CDSTATUSCCE TYPE VARCHAR(4);
/*postgresql*/ ALTER TABLE CARTACORRECAO ALTER COLUMN NRPROTOCOLCCE TYPE VARCHAR(17);
/*postgresql*/ ALTER TABLE LOTECCE ALTER COLUMN CDSTATUSLOTE TYPE VARCHAR(4);

-- dhRegEvento as the authority wrote it, with its offset; DTHRPROTOCOLCCE keeps the same
-- instant on the issuer state's own clock.
ALTER TABLE CARTACORRECAO ADD COLUMN DSDHREGEVENTO VARCHAR(25);
-- "P" sent by this system (every letter before this column), "E" registered by another
-- system and brought in from the authority's registry.
ALTER TABLE CARTACORRECAO ADD COLUMN IDORIGEMCCE VARCHAR(1) DEFAULT 'P' NOT NULL CHECK (IDORIGEMCCE IN ('P', 'E'));

-- The last reading of an invoice's events at the authority (NFeConsultaProtocolo4).
-- DTHRCONSULTA is UTC, "yyyy-MM-ddTHH:mm:ss": compared as text, the same on every machine.
CREATE TABLE CONSULTACCE (
    CDFILIAL     VARCHAR(4)  NOT NULL,
    NRLANCTONF   VARCHAR(10) NOT NULL,
    DTHRCONSULTA VARCHAR(19) NOT NULL,
    CDSTATUSNFE  VARCHAR(4),
    QTEVENTOS    INTEGER     NOT NULL,
    PRIMARY KEY (CDFILIAL, NRLANCTONF),
    FOREIGN KEY (CDFILIAL, NRLANCTONF) REFERENCES NOTAFISCAL (CDFILIAL, NRLANCTONF)
);
