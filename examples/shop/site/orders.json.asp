<%@ Language="JScript" %>
<!--#include file="shop.inc"-->
<%
// The orders as JSON, for scripts in the browser: every order with its
// customer, status and total, oldest first.
//
//   GET orders.json.asp              all orders
//   GET orders.json.asp?customer=N   the orders of one customer
var q = ShopConnect();
var customer = IdParam(Request.QueryString, 'customer');
q.Query('orders',
        'select o.id, o.customer_id, c.name as customer, o.ordered, o.status, o.total, o.note ' +
        'from orders o join customers c on c.id = o.customer_id' +
        (customer !== null ? ' where o.customer_id = ?' : '') + ' order by o.id',
        customer !== null ? [customer] : []);
Response.ContentType = 'application/json';
Response.Write(q.ContentJSON('orders'));
%>