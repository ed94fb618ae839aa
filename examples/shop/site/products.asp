<%@ Language="JScript" %>
<!--#include file="shop.inc"-->
<%
// The products, rendered by ContentTable with the shop's templates, which
// escape the name and the category (ENCODE=HTML); the numbers are numbers.
var q = ShopConnect();
var products = q.Dataset('products', '');
products.SQL.text =
    'select p.id, p.name, p.category, format(p.price, 2) as price, ' +
    'coalesce(sum(l.quantity), 0) as sold ' +
    'from products p left join order_lines l on l.product_id = p.id ' +
    'group by p.id, p.name, p.category, p.price order by p.category, p.name';
products.Open();
PageStart('Products', 'products');
%>
<h1>Products</h1>
<p class="lead"><%= products.recordcount %> products in <%= EnumValues(products, 'category').length %> categories.</p>
<%= q.ContentTable('products', false,
      '<table class="grid" id="products">\n<thead><tr><th class="num">No.</th><th>Product</th><th>Category</th>' +
      '<th class="num">Price</th><th class="num">Sold</th></tr></thead>\n<tbody>\n',
      '<tr><td class="num"><#id></td><td><#name ENCODE=HTML></td><td><span class="tag"><#category ENCODE=HTML></span></td>' +
      '<td class="num"><#price></td><td class="num"><#sold></td></tr>\n',
      '</tbody>\n</table>\n') %>
<% PageEnd(q); %>
