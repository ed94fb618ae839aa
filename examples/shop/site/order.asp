<%@ Language="JScript" %>
<!--#include file="shop.inc"-->
<%
// The order editor.
//
//   GET  order.asp?id=N              the order, its form and its lines
//   GET  order.asp?customer=N        the form for a new order of a customer
//   GET  order.asp?id=N&delete=1     asks before deleting
//   POST action=save, id=N           updates the order from the form
//   POST action=save, customer_id=N  inserts a new order from the form
//   POST action=delete, id=N         deletes the order (its lines go with it)
//
// Changes go through Quill's Execute, which takes the values of the named
// fields from the posted form; the order and its total (the sum of its
// lines) are saved in one transaction, so neither is ever stored without
// the other. The form is checked first, so that only a
// real date, a status the column knows and a note that fits reach it; the
// database's own refusal is shown too. After a change the browser is sent
// on to a page it can reload without posting again.
var q = ShopConnect();
var order = q.Dataset('order', 'orders');
var customer = q.Dataset('customer', 'customers');
var post = IsPost();
var request = post ? Request.Form : Request.QueryString;
var id = IdParam(request, 'id');
var action = post ? Param(Request.Form, 'action') : null;
var errors = [];

// Opens `d` on the one row whose id is `n` (none for null); answers whether
// there is such a row.
function OpenOne(d, n) {
  d.Filter = 'id = ' + (n === null ? 0 : n);
  d.Filtered = true;
  d.Open();
  return !d.eof;
}

// A real day written as yyyy-mm-dd.
function IsDay(text) {
  var m = /^([0-9]{4})-([0-9]{2})-([0-9]{2})$/.exec(text);
  if (m === null) return false;
  var y = Number(m[1]), mo = Number(m[2]) - 1, d = Number(m[3]);
  var day = new Date(y, mo, d);
  return y >= 1000 && day.getFullYear() == y && day.getMonth() == mo && day.getDate() == d;
}

// What is wrong with the posted form, as sentences.
function CheckForm(statuses) {
  var found = [];
  var ordered = Param(Request.Form, 'ordered');
  var status = Param(Request.Form, 'status');
  var note = Param(Request.Form, 'note');
  if (ordered === null || !IsDay(ordered)) found.push('The date must be a day of the calendar, written as 2024-03-05.');
  if (status === null || statuses.indexOf(status) < 0) found.push('Pick one of the statuses.');
  if (note === null) found.push('The note is missing.');
  else if (CharCount(note) > 200) found.push('The note is longer than 200 characters.');
  return found;
}

// Runs `verb` of Execute on the order with the fields of the form and, for
// a save, stores the order's total with it, in one transaction; a refusal
// becomes a message and the order is left as it was.
function ExecuteOrder(verb, fields) {
  try {
    q.BeginTrans();
    q.Execute(verb, 'order', fields);
    if (verb != 'Delete') {
      var saved = verb == 'Insert' ? Number(order.lastinsertid) : id;
      q.Exec('update orders set total = (select coalesce(sum(quantity * price), 0) ' +
             'from order_lines where order_id = ?) where id = ?', [saved, saved]);
    }
    q.CommitTrans();
  } catch (e) {
    errors.push('The database refused the change: ' + (e.description || e.message));
    if (order.state == -2) order.cancel();
    if (q.InTransaction) q.RollbackTrans();
  }
}

if (post) {
  if (action == 'save' && id !== null) {
    if (!OpenOne(order, id)) {
      NotFound(q, 'No such order', 'Order ' + id + ' does not exist (any more); nothing was saved.');
    }
    errors = CheckForm(EnumValues(order, 'status'));
    if (errors.length == 0) ExecuteOrder('Edit', 'ordered;status;note');
    if (errors.length == 0) Response.Redirect('order.asp?id=' + id + '&saved=1');
  } else if (action == 'save' && id === null) {
    var customerId = IdParam(Request.Form, 'customer_id');
    if (!OpenOne(customer, customerId)) {
      NotFound(q, 'No such customer', 'There is no customer with that number; nothing was saved.');
    }
    OpenOne(order, null);
    errors = CheckForm(EnumValues(order, 'status'));
    if (errors.length == 0) ExecuteOrder('Insert', 'customer_id;ordered;status;note');
    if (errors.length == 0) Response.Redirect('order.asp?id=' + order.lastinsertid + '&created=1');
  } else if (action == 'delete' && id !== null) {
    if (!OpenOne(order, id)) {
      NotFound(q, 'No such order', 'Order ' + id + ' does not exist (any more).');
    }
    var owner = order('customer_id');
    ExecuteOrder('Delete', '');
    if (errors.length == 0) Response.Redirect('customer.asp?id=' + owner + '&deleted=' + id);
  } else {
    Response.Status = '400 Bad Request';
    PageStart('Not understood', '');
    Notice('error', 'This form is not one the shop knows.');
    PageEnd(q);
    Response.End();
  }
  if (errors.length > 0) Response.Status = '422 Unprocessable Entity';
} else if (id !== null) {
  if (!OpenOne(order, id)) NotFound(q, 'No such order', 'There is no order ' + id + '.');
} else {
  if (!OpenOne(customer, IdParam(Request.QueryString, 'customer'))) {
    NotFound(q, 'No such customer', 'There is no customer with that number.');
  }
  OpenOne(order, null);
}

// From here on the page shows the order (or the new one).
var isNew = order.eof;
if (!isNew && !customer.Active) OpenOne(customer, order('customer_id'));
var statuses = EnumValues(order, 'status');

// What the form holds: the order, or what was posted when it was refused.
var form;
if (post) {
  form = {ordered: Param(Request.Form, 'ordered'), status: Param(Request.Form, 'status'),
          note: Param(Request.Form, 'note')};
} else if (!isNew) {
  form = {ordered: FieldDate(q, order('ordered')), status: order('status'), note: order('note')};
} else {
  form = {ordered: FieldDate(q, new Date()), status: statuses[0], note: ''};
}

var lines = null;
if (!isNew) {
  lines = q.Dataset('lines', '');
  lines.SQL.text =
      'select l.line, p.name as product, p.category, l.quantity, l.price, l.quantity * l.price as amount ' +
      'from order_lines l join products p on p.id = l.product_id order by l.line';
  q.Link('lines', 'order', 'order_id=id');
  lines.Open();
}

var title = isNew ? 'New order' : 'Order ' + order('id');
var confirmDelete = !post && !isNew && Param(Request.QueryString, 'delete') == '1';
PageStart(title, 'customers');
%>
<p class="crumbs"><a href="./">Customers</a> &rsaquo; <a href="customer.asp?id=<%= customer('id') %>"><%= H(customer('name')) %></a> &rsaquo; <%= H(title) %></p>
<h1><%= H(title) %> <small>for <%= H(customer('name')) %></small></h1>
<%
if (!post && Param(Request.QueryString, 'saved') == '1') Notice('ok', 'Your changes were saved.');
if (!post && Param(Request.QueryString, 'created') == '1') Notice('ok', 'The order was created.');
if (errors.length > 0) {
%><div class="notice error" role="alert"><p>The order was not saved:</p><ul>
<% for (var i = 0; i < errors.length; ++i) { %>  <li><%= H(errors[i]) %></li>
<% } %></ul></div>
<% } %>
<% if (confirmDelete) { %>
<form class="card danger" method="post" action="order.asp">
  <p>Delete order <%= order('id') %> of <%= ShowDate(q, order('ordered')) %> with its <%= lines.recordcount %> line(s)? This cannot be undone.</p>
  <input type="hidden" name="id" value="<%= order('id') %>">
  <button type="submit" name="action" value="delete" class="danger">Delete order</button>
  <a class="button plain" href="order.asp?id=<%= order('id') %>">Keep it</a>
</form>
<% } %>

<form class="card" id="order-form" method="post" action="order.asp">
<% if (isNew) { %>
  <input type="hidden" name="customer_id" value="<%= customer('id') %>">
<% } else { %>
  <input type="hidden" name="id" value="<%= order('id') %>">
<% } %>
  <div class="fields">
    <label for="ordered">Date</label>
    <input type="date" id="ordered" name="ordered" required value="<%= H(form.ordered) %>">
    <label for="status">Status</label>
    <select id="status" name="status">
<% for (var i = 0; i < statuses.length; ++i) { %>
      <option value="<%= H(statuses[i]) %>"<%= statuses[i] == form.status ? ' selected' : '' %>><%= H(statuses[i]) %></option>
<% } %>
    </select>
    <label for="note">Note</label>
    <input type="text" id="note" name="note" maxlength="200" value="<%= H(form.note) %>" placeholder="For the people who pack and deliver it">
  </div>
  <div class="actions">
    <button type="submit" name="action" value="save"><%= isNew ? 'Create order' : 'Save changes' %></button>
    <a class="button plain" href="customer.asp?id=<%= customer('id') %>">Back to <%= H(customer('name')) %></a>
  </div>
</form>

<% if (!isNew) { %>
<h2>Lines</h2>
<% if (lines.eof) { %>
<p class="empty">This order has no lines.</p>
<% } else { var sum = 0; %>
<table class="grid" id="lines">
<thead><tr><th class="num">#</th><th>Product</th><th>Category</th><th class="num">Quantity</th><th class="num">Price</th><th class="num">Amount</th></tr></thead>
<tbody>
<% for (; !lines.eof; lines.movenext()) { sum += Number(lines('amount')); %>
<tr>
  <td class="num"><%= lines('line') %></td>
  <td><%= H(lines('product')) %></td>
  <td><%= H(lines('category')) %></td>
  <td class="num"><%= lines('quantity') %></td>
  <td class="num"><%= Money(lines('price')) %></td>
  <td class="num"><%= Money(lines('amount')) %></td>
</tr>
<% } %>
</tbody>
<tfoot><tr><td colspan="5">Total</td><td class="num"><%= Money(sum) %></td></tr></tfoot>
</table>
<% } %>
<% if (!confirmDelete) { %>
<p class="aside"><a class="danger-link" href="order.asp?id=<%= order('id') %>&amp;delete=1">Delete this order&hellip;</a></p>
<% } %>
<% } %>
<% PageEnd(q); %>
