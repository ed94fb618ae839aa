<%@ Language="JScript" %>
<!--#include file="shop.inc"-->
<%
// The products, rendered by ContentTable with the shop's templates: the
// name arrives HTML-escaped from the query (SqlHtml), the category is a
// member of the column's enumeration and the numbers are numbers.
var q = ShopConnect();
var products = q.Dataset('products', '');
products.SQL.text =
    'select p.id, ' + SqlHtml('p.name') + ' as name, p.category, format(p.price, 2) as price, ' +
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
      '<tr><td class="num"><#id></td><td><#name></td><td><span class="tag"><#category></span></td>' +
      '<td class="num"><#price></td><td class="num"><#sold></td></tr>\n',
      '</tbody>\n</table>\n') %>
<% PageEnd(q); %>
