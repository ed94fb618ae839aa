<?php
// The page-throughput benchmark's page for nginx + PHP-FPM: connect, read
// the first 20 or 200 rows of bench_rows, write them as an HTML table of the
// same shape as Quill's ContentTable with its default templates.
$n = (isset($_GET['n']) && $_GET['n'] === '200') ? 200 : 20;
$db = new mysqli(getenv('BENCH_DB_HOST'), getenv('BENCH_DB_USER'), getenv('BENCH_DB_PASSWORD'),
                 getenv('BENCH_DB_NAME'), (int)getenv('BENCH_DB_PORT'));
$db->set_charset('utf8mb4');
$result = $db->query("select * from bench_rows order by id limit $n");
$out = '<table><tr>';
foreach ($result->fetch_fields() as $field) {
  $out .= '<td>' . $field->name . '</td>';
}
$out .= '</tr>';
while ($row = $result->fetch_row()) {
  $out .= '<tr>';
  foreach ($row as $value) {
    $out .= '<td>' . $value . '</td>';
  }
  $out .= '</tr>';
}
$out .= '</table>';
$result->free();
$db->close();
echo $out;
