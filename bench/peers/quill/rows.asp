<%@ Language="JScript" %>
<!--#include file="settings.inc"-->
<%
// The page-throughput benchmark's page for quill-asp: connect, read the first
// 20 or 200 rows of bench_rows, render them with ContentTable's default
// templates. settings.inc is written by bench/page-throughput.
var n = Request.QueryString('n') == '200' ? 200 : 20;
var q = Server.CreateObject('Harrow.Quill');
q.Connect(BenchSettings.host, BenchSettings.user, BenchSettings.password, BenchSettings.port,
          BenchSettings.database);
var rows = q.Dataset('rows', 'bench_rows', false);
rows.MacroByName('ORDER').Value = 'order by id';
rows.MacroByName('LIMIT').Value = 'limit ' + n;
rows.Open();
Response.Write(q.ContentTable('rows'));
%>
