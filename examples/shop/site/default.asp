<%@ Language="JScript" %>
<!--#include file="shop.inc"-->
<%
// The customers, one row each, rendered by ContentTable through the shop's
// own templates. The template escapes the names and cities itself
// (ENCODE=HTML); the other columns are numbers.
var q = ShopConnect();
var list = q.Dataset('customer_list', '');
list.SQL.text =
    'select c.id, c.name, c.city, count(distinct o.id) as orders, ' +
    "format(coalesce(sum(case when o.status <> 'cancelled' then l.quantity * l.price end), 0), 2) as spent " +
    'from customers c left join orders o on o.customer_id = c.id ' +
    'left join order_lines l on l.order_id = o.id ' +
    'group by c.id, c.name, c.city order by c.name, c.id';
list.Open();

var head =
    '<table class="grid" id="customers">\n' +
    '<thead><tr><th class="num">No.</th><th>Customer</th><th>City</th>' +
    '<th class="num">Orders</th><th class="num">Spent</th></tr></thead>\n<tbody>\n';
var row =
    '<tr><td class="num"><#id></td><td><a href="customer.asp?id=<#id>"><#name ENCODE=HTML></a></td>' +
    '<td><#city ENCODE=HTML></td><td class="num"><#orders></td><td class="num"><#spent></td></tr>\n';
var foot = '</tbody>\n</table>\n';

PageStart('Customers', 'customers');
%>
<h1>Customers</h1>
<% var recent = Session('recent'); if (recent) { %>
<p class="recent" id="recent">Recently viewed:
<% for (var i = 0; i < recent.length; ++i) { %> <a href="customer.asp?id=<%= recent[i].id %>"><%= H(recent[i].name) %></a><% } %></p>
<% } %>
<p class="lead"><%= list.recordcount %> customers. Pick one to see their orders; the amount spent leaves cancelled orders out.</p>
<%= q.ContentTable('customer_list', false, head, row, foot) %>
<% PageEnd(q); %>
