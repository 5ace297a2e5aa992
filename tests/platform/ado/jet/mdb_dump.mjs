// Dumps an .mdb file with the independent npm reader mdb-reader, one JSON line per item:
//   node mdb_dump.mjs FILE PASSWORD NODE_MODULES_PARENT
// Dates become {"date": ISO text}, binary values {"hex": ...}.
import { createRequire } from "module";
import { readFileSync } from "fs";
import { pathToFileURL } from "url";

const [file, password, modules] = process.argv.slice(2);
const require = createRequire(modules.replace(/\/?$/, "/"));
const { default: MDBReader } = await import(pathToFileURL(require.resolve("mdb-reader")).href);

const reader = new MDBReader(readFileSync(file), { password });
const value = (v) =>
    v instanceof Date ? { date: v.toISOString() } : Buffer.isBuffer(v) ? { hex: v.toString("hex") } : v;
console.log(JSON.stringify(["password", reader.getPassword()]));
for (const name of reader.getTableNames()) {
    const table = reader.getTable(name);
    const columns = table.getColumnNames();
    console.log(JSON.stringify(["table", name, table.rowCount, columns]));
    for (const row of table.getData())
        console.log(JSON.stringify(columns.map((c) => value(row[c]))));
}
