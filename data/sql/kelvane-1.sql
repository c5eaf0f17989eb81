-- Kelvane's shared service history, schema version 1.
-- Run by `kelvane-cli server init` as the database owner, in one transaction; readable here
-- before it is run. Every laptop keeps its own SQLite copy and sends its entries here; the
-- rows are never changed or deleted by a technician.

CREATE SCHEMA kelvane;

-- Which version of this file the schema is at, and the server's own identity (a laptop that
-- meets another identity sends everything again).
CREATE TABLE kelvane.schema_info (
    version   integer NOT NULL,
    instance  uuid NOT NULL,
    upgraded  timestamptz NOT NULL DEFAULT now()
);

-- One row per history entry. seq orders arrivals: laptops read the team's entries after the
-- last seq they have.
CREATE TABLE kelvane.entry (
    seq           bigserial PRIMARY KEY,
    uuid          uuid NOT NULL UNIQUE,
    source        uuid NOT NULL,           -- the laptop database that made the entry
    kind          text NOT NULL DEFAULT 'machine',
    time_ms       bigint NOT NULL,         -- UTC, milliseconds since 1970
    command       text NOT NULL,
    result        integer,
    message       text NOT NULL DEFAULT '',
    machine_type  text NOT NULL DEFAULT '',
    serial_nr     text NOT NULL DEFAULT '',
    el_assembly   text NOT NULL DEFAULT '',
    sw_version    text NOT NULL DEFAULT '',
    counter       bigint,
    image_before  bytea,
    image_after   bytea,
    extra         bytea,
    payload       bytea,
    technician    text NOT NULL DEFAULT '',
    host          text NOT NULL DEFAULT '',
    received_at   timestamptz NOT NULL DEFAULT now(),
    received_by   name NOT NULL DEFAULT current_user
);
CREATE INDEX entry_by_machine ON kelvane.entry (serial_nr, time_ms);
CREATE INDEX entry_by_kind ON kelvane.entry (kind, time_ms) WHERE kind <> 'machine';

-- The shared record is append-only: only the table's owner may change or remove rows.
CREATE FUNCTION kelvane.refuse_change() RETURNS trigger
LANGUAGE plpgsql AS $$
BEGIN
    IF NOT pg_has_role(current_user,
                       (SELECT tableowner FROM pg_tables
                        WHERE schemaname = 'kelvane' AND tablename = 'entry'), 'MEMBER') THEN
        RAISE EXCEPTION 'kelvane: history entries are never changed or deleted'
            USING ERRCODE = 'insufficient_privilege';
    END IF;
    IF TG_OP = 'DELETE' THEN
        RETURN OLD;
    END IF;
    RETURN NEW;
END
$$;
CREATE TRIGGER entry_append_only BEFORE UPDATE OR DELETE ON kelvane.entry
    FOR EACH ROW EXECUTE FUNCTION kelvane.refuse_change();
CREATE TRIGGER entry_no_truncate BEFORE TRUNCATE ON kelvane.entry
    FOR EACH STATEMENT EXECUTE FUNCTION kelvane.refuse_change();

-- Group roles; login roles of the technicians are made members of kelvane_technician.
DO $$
BEGIN
    IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'kelvane_technician') THEN
        CREATE ROLE kelvane_technician NOLOGIN;
    END IF;
    IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'kelvane_admin') THEN
        CREATE ROLE kelvane_admin NOLOGIN;
    END IF;
END
$$;
GRANT kelvane_technician TO kelvane_admin;

REVOKE ALL ON ALL TABLES IN SCHEMA kelvane FROM PUBLIC;
GRANT USAGE ON SCHEMA kelvane TO kelvane_technician;
GRANT SELECT ON kelvane.schema_info TO kelvane_technician;
GRANT SELECT, INSERT ON kelvane.entry TO kelvane_technician;
GRANT USAGE ON SEQUENCE kelvane.entry_seq_seq TO kelvane_technician;

INSERT INTO kelvane.schema_info (version, instance) VALUES (1, gen_random_uuid());
