-- Kelvane's shared service history, schema version 2: the digests of the stored images.
-- `kelvane-cli server init` runs the files kelvane-N.sql in order from the version the schema
-- is at, all in one transaction: an empty database gets kelvane-1.sql then this file, a
-- version-1 schema this file alone. So a new server and an upgraded one are made by the same
-- statements and cannot drift apart; a file once shipped is never changed.

-- 40 upper-case hex digits of SHA-1 over image_before, image_after and extra as the laptop
-- stored them. Entries a version-1 laptop sent carry none: NULL.
ALTER TABLE kelvane.entry
    ADD COLUMN before_digest text,
    ADD COLUMN after_digest  text,
    ADD COLUMN extra_digest  text;

-- Only the form is checked here: a digest that does not match its image is the laptop's
-- finding to keep, and is checked where the image is used. NOT VALID: the rows already there
-- hold none, no need to read them all under the table's lock.
ALTER TABLE kelvane.entry ADD CONSTRAINT entry_digest_form CHECK (
    (before_digest IS NULL OR before_digest ~ '^[0-9A-F]{40}$') AND
    (after_digest IS NULL OR after_digest ~ '^[0-9A-F]{40}$') AND
    (extra_digest IS NULL OR extra_digest ~ '^[0-9A-F]{40}$')
) NOT VALID;
