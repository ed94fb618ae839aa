// The page-throughput benchmark's page for Node: http with mysql2. Each
// request takes a connection from a pool (the way Node sites use mysql2),
// reads the first 20 or 200 rows of bench_rows and writes them as an HTML
// table of the same shape as Quill's ContentTable with its default templates.
'use strict';
const http = require('http');
const mysql = require('mysql2');

const pool = mysql.createPool({
  host: process.env.BENCH_DB_HOST,
  port: Number(process.env.BENCH_DB_PORT),
  user: process.env.BENCH_DB_USER,
  password: process.env.BENCH_DB_PASSWORD,
  database: process.env.BENCH_DB_NAME,
  connectionLimit: Number(process.env.BENCH_POOL || 8),
  dateStrings: true,
  charset: 'utf8mb4',
});

const server = http.createServer((req, res) => {
  const n = /[?&]n=200(&|$)/.test(req.url) ? 200 : 20;
  pool.query({ sql: `select * from bench_rows order by id limit ${n}`, rowsAsArray: true },
    (err, rows, fields) => {
      if (err) {
        res.writeHead(500, { 'Content-Type': 'text/plain' });
        res.end(String(err));
        return;
      }
      let out = '<table><tr>';
      for (const f of fields) out += '<td>' + f.name + '</td>';
      out += '</tr>';
      for (const row of rows) {
        out += '<tr>';
        for (const v of row) out += '<td>' + (v === null ? '' : v) + '</td>';
        out += '</tr>';
      }
      out += '</table>';
      res.writeHead(200, { 'Content-Type': 'text/html; charset=utf-8' });
      res.end(out);
    });
});
server.listen(Number(process.env.BENCH_PORT), '127.0.0.1', () => {
  console.log(`listening on http://127.0.0.1:${server.address().port}/`);
});
