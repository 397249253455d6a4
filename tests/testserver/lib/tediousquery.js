// Logs in as sa with tedious (Node's TDS client) and runs one statement:
//   node tediousquery.js PORT PASSWORD ENCRYPT(true|false) SQL
// prints "ROW v1|v2" per row, or "ERROR text" and exits 1.
const { Connection, Request } = require('tedious');
const [port, password, encrypt, sql] = process.argv.slice(2);
const c = new Connection({
  server: '127.0.0.1',
  authentication: { type: 'default', options: { userName: 'sa', password } },
  options: { port: Number(port), encrypt: encrypt === 'true', trustServerCertificate: true,
             connectTimeout: 10000, rowCollectionOnDone: false },
});
c.on('connect', (err) => {
  if (err) { console.log('ERROR ' + err.message); process.exit(1); }
  const r = new Request(sql, (e) => { if (e) console.log('ERROR ' + e.message); c.close(); });
  r.on('row', (cols) => console.log('ROW ' + cols.map((x) => x.value).join('|')));
  c.execSql(r);
});
c.connect();
