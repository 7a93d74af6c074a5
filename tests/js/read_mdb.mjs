// Prints a Jet database as JSON, read by the independent mdb-reader package, so that the
// engine's tests can compare what they wrote with what another reader sees.
//
//   node read_mdb.mjs FILE [PASSWORD]
//
// Output: {"password": ..., "tables": [{"name", "columns": [{"name", "type"}], "rows": [[...]]}]}
// Dates are ISO strings (mdb-reader reads Jet dates as UTC), binary data is hex, other
// values as mdb-reader returns them. Exit status 1 with the message on stderr on failure.

import { readFileSync } from "node:fs";
import MDBReader from "mdb-reader";

function plain(value) {
  if (value === null || value === undefined) return null;
  if (value instanceof Date) return value.toISOString();
  if (Buffer.isBuffer(value)) return "0x" + value.toString("hex");
  if (typeof value === "bigint") return value.toString();
  return value;
}

try {
  const [file, password] = process.argv.slice(2);
  if (!file) throw new Error("usage: node read_mdb.mjs FILE [PASSWORD]");
  const reader = new MDBReader(readFileSync(file), password ? { password } : {});
  const tables = reader.getTableNames({ normalTables: true, systemTables: false }).map((name) => {
    const table = reader.getTable(name);
    const columns = table.getColumns().map((c) => ({ name: c.name, type: c.type }));
    const rows = table.getData().map((row) => columns.map((c) => plain(row[c.name])));
    return { name, columns, rows };
  });
  process.stdout.write(JSON.stringify({ password: reader.getPassword(), tables }) + "\n");
} catch (err) {
  process.stderr.write(String(err && err.message ? err.message : err) + "\n");
  process.exit(1);
}
