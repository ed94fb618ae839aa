<%@ Language="JScript" %>
<!--#include file="shop.inc"-->
<%
// One customer and their orders. The orders are a detail dataset linked to
// the customer (Link): Quill narrows them to the customer's number itself.
var q = ShopConnect();
var id = IdParam(Request.QueryString, 'id');
var customer = q.Dataset('customer', 'customers');
customer.Filter = 'id = ' + (id === null ? 0 : id);
customer.Filtered = true;
customer.Open();
if (customer.eof) NotFound(q, 'No such customer', 'There is no customer with that number.');

var orders = q.Dataset('orders', '');
orders.SQL.text =
    'select o.id, o.customer_id, o.ordered, o.status, o.note, ' +
    'count(l.line) as items, sum(l.quantity * l.price) as total ' +
    'from orders o left join order_lines l on l.order_id = o.id ' +
    'group by o.id order by o.ordered, o.id';
q.Link('orders', 'customer', 'customer_id=id');
orders.Open();

// The visitor's recently viewed customers, newest first, kept in their session.
var seen = Number(customer('id'));
Session('recent') = [{id: seen, name: String(customer('name'))}].concat(
    (Session('recent') || []).filter(function (c) { return c.id !== seen; })).slice(0, 5);

var deleted = IdParam(Request.QueryString, 'deleted');
PageStart(customer('name'), 'customers');
%>
<p class="crumbs"><a href="./">Customers</a> &rsaquo; No. <%= customer('id') %></p>
<h1><%= H(customer('name')) %></h1>
<% if (deleted !== null) Notice('ok', 'Order ' + deleted + ' was deleted.'); %>
<dl class="facts">
  <dt>City</dt><dd><%= customer('city') === null ? '\u2014' : H(customer('city')) %></dd>
  <dt>E-mail</dt><dd><% if (customer('email') !== null) { %><a href="mailto:<%= H(customer('email')) %>"><%= H(customer('email')) %></a><% } else { %>&mdash;<% } %></dd>
  <dt>Customer since</dt><dd><%= ShowDate(q, customer('since')) %></dd>
</dl>

<div class="bar">
  <h2>Orders</h2>
  <a class="button" href="order.asp?customer=<%= customer('id') %>">New order</a>
</div>
<% if (orders.eof) { %>
<p class="empty">No orders yet.</p>
<% } else { %>
<table class="grid" id="orders">
<thead><tr><th class="num">Order</th><th>Date</th><th>Status</th><th>Note</th><th class="num">Items</th><th class="num">Total</th></tr></thead>
<tbody>
<% for (; !orders.eof; orders.movenext()) { %>
<tr>
  <td class="num"><a href="order.asp?id=<%= orders('id') %>"><%= orders('id') %></a></td>
  <td><%= ShowDate(q, orders('ordered')) %></td>
  <td><%= StatusBadge(orders('status')) %></td>
  <td class="note"><%= H(orders('note')) %></td>
  <td class="num"><%= orders('items') %></td>
  <td class="num"><%= Money(orders('total')) %></td>
</tr>
<% } %>
</tbody>
</table>
<% } %>
<% PageEnd(q); %>
