<%@ Language="JScript" %>
<!--#include file="shop.inc"-->
<%
// Search: customers by name, city or e-mail, orders by note, status or
// number. Each is a dataset narrowed by Filter, an SQL condition whose "?"
// placeholders Quill binds to the values of filterparams: the text typed
// reaches the server as a value, never as SQL. Only the pattern characters
// of LIKE are escaped (LikeContains).
var q = ShopConnect();
var text = Param(Request.QueryString, 'q');
text = text === null ? '' : text.replace(/^\s+|\s+$/g, '');
var tooLong = CharCount(text) > 100;
var searched = text != '' && !tooLong;

var customers = q.Dataset('customers', 'customers');
var orders = q.Dataset('orders', '');
if (searched) {
  var pattern = LikeContains(text);
  customers.filterparams = [pattern, pattern, pattern];
  customers.Filter = 'name like ? or city like ? or email like ?';
  customers.Filtered = true;
  customers.MacroByName('ORDER').Value = 'order by name, id';
  customers.Open();

  orders.SQL.text =
      'select o.id, o.customer_id, c.name as customer, o.ordered, o.status, o.note ' +
      'from orders o join customers c on c.id = o.customer_id order by o.ordered desc, o.id';
  var byNumber = /^[0-9]{1,9}$/.test(text);
  orders.filterparams = byNumber ? [pattern, pattern, Number(text)] : [pattern, pattern];
  orders.Filter = 'o.note like ? or o.status like ?' + (byNumber ? ' or o.id = ?' : '');
  orders.Filtered = true;
  orders.Open();
}

PageStart(searched ? 'Search: ' + text : 'Search', 'search');
%>
<h1>Search</h1>
<form class="card search" method="get" action="search.asp">
  <label for="q">Find customers and orders</label>
  <input type="search" id="q" name="q" value="<%= H(text) %>" maxlength="100" autofocus placeholder="Name, city, e-mail, note, status or order number">
  <button type="submit">Search</button>
</form>
<%
if (tooLong) Notice('error', 'Please search for at most 100 characters.');
if (searched) {
%>
<p class="lead" id="summary"><%= customers.recordcount %> customer(s) and <%= orders.recordcount %> order(s) match &ldquo;<%= H(text) %>&rdquo;.</p>

<h2>Customers</h2>
<% if (customers.eof) { %>
<p class="empty">No customer matches.</p>
<% } else { %>
<table class="grid" id="found-customers">
<thead><tr><th class="num">No.</th><th>Customer</th><th>City</th><th>E-mail</th></tr></thead>
<tbody>
<% for (; !customers.eof; customers.movenext()) { %>
<tr><td class="num"><%= customers('id') %></td><td><a href="customer.asp?id=<%= customers('id') %>"><%= H(customers('name')) %></a></td><td><%= H(customers('city')) %></td><td><%= H(customers('email')) %></td></tr>
<% } %>
</tbody>
</table>
<% } %>

<h2>Orders</h2>
<% if (orders.eof) { %>
<p class="empty">No order matches.</p>
<% } else { %>
<table class="grid" id="found-orders">
<thead><tr><th class="num">Order</th><th>Date</th><th>Customer</th><th>Status</th><th>Note</th></tr></thead>
<tbody>
<% for (; !orders.eof; orders.movenext()) { %>
<tr><td class="num"><a href="order.asp?id=<%= orders('id') %>"><%= orders('id') %></a></td><td><%= ShowDate(q, orders('ordered')) %></td><td><a href="customer.asp?id=<%= orders('customer_id') %>"><%= H(orders('customer')) %></a></td><td><%= StatusBadge(orders('status')) %></td><td class="note"><%= H(orders('note')) %></td></tr>
<% } %>
</tbody>
</table>
<% } %>
<% } %>
<% PageEnd(q); %>
