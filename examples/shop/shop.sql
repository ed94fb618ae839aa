-- The sample shop: customers, their orders, the lines of each order and the
-- products they name. Loaded into a database of its own (quill_shop) by
-- scripts/quill-demo, by the browser test and by build/bin/quill-probe;
-- loading it again puts the shop back as it was.
--
-- Kept simple enough for every loader: a statement ends with a semicolon at
-- the end of a line, comments are whole lines starting with "--", and no
-- text value holds a semicolon at the end of a line.

DROP TABLE IF EXISTS order_lines;
DROP TABLE IF EXISTS orders;
DROP TABLE IF EXISTS products;
DROP TABLE IF EXISTS customers;

CREATE TABLE customers (
  id int NOT NULL AUTO_INCREMENT PRIMARY KEY,
  name varchar(60) NOT NULL,
  city varchar(40),
  email varchar(80),
  since date
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

CREATE TABLE products (
  id int NOT NULL AUTO_INCREMENT PRIMARY KEY,
  name varchar(60) NOT NULL,
  category enum('fruit','vegetable','dairy','bakery') NOT NULL,
  price decimal(8,2) NOT NULL
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

-- Order numbers are given by the server; new orders start after the sample.
CREATE TABLE orders (
  id int NOT NULL AUTO_INCREMENT PRIMARY KEY,
  customer_id int NOT NULL,
  ordered date NOT NULL,
  status enum('new','paid','shipped','cancelled') NOT NULL DEFAULT 'new',
  note varchar(200) NOT NULL DEFAULT '',
  -- The sum of the lines, saved with the order in one transaction.
  total decimal(10,2) NOT NULL DEFAULT 0,
  KEY orders_customer (customer_id),
  CONSTRAINT orders_customer FOREIGN KEY (customer_id) REFERENCES customers (id)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

-- The lines go with their order.
CREATE TABLE order_lines (
  order_id int NOT NULL,
  line int NOT NULL,
  product_id int NOT NULL,
  quantity int NOT NULL,
  price decimal(8,2) NOT NULL,
  PRIMARY KEY (order_id, line),
  CONSTRAINT order_lines_order FOREIGN KEY (order_id) REFERENCES orders (id) ON DELETE CASCADE,
  CONSTRAINT order_lines_product FOREIGN KEY (product_id) REFERENCES products (id)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

INSERT INTO customers (id, name, city, email, since) VALUES
  (1, 'Ada Byron', 'London', 'ada@example.org', '2019-03-14'),
  (2, 'Blaise Pascal', 'Clermont', 'blaise@example.org', '2020-06-19'),
  (3, 'Grace Hopper', 'New York', 'grace@example.org', '2021-12-09'),
  (4, 'Zoë Ärger & Söhne', 'Zürich', NULL, NULL),
  (5, 'Alan Turing', 'Wilmslow', 'alan@example.org', '2022-06-23'),
  (6, 'Katherine Johnson', 'Hampton', 'katherine@example.org', '2023-08-26'),
  (7, 'Bits & <Bytes> Ltd.', 'Leeds', 'shop@bits.example', '2024-01-02');

INSERT INTO products (id, name, category, price) VALUES
  (1, 'Apple', 'fruit', 0.45),
  (2, 'Pear', 'fruit', 0.55),
  (3, 'Carrot', 'vegetable', 0.20),
  (4, 'Cheese (aged)', 'dairy', 7.90),
  (5, 'Rye bread', 'bakery', 3.10),
  (6, 'Leek', 'vegetable', 1.25),
  (7, 'Butter', 'dairy', 2.40),
  (8, 'Plum cake', 'bakery', 6.50);

INSERT INTO orders (id, customer_id, ordered, status, note) VALUES
  (100, 1, '2024-01-05', 'shipped', ''),
  (101, 1, '2024-02-11', 'paid', 'Leave at the door'),
  (102, 2, '2024-02-12', 'new', ''),
  (103, 3, '2024-03-01', 'shipped', 'Gift wrap, please'),
  (104, 3, '2024-04-18', 'cancelled', ''),
  (105, 5, '2024-05-02', 'paid', ''),
  (106, 6, '2024-05-20', 'new', 'Call before delivery'),
  (107, 7, '2024-06-03', 'new', '<b>bold</b> & "quoted"');

INSERT INTO order_lines (order_id, line, product_id, quantity, price) VALUES
  (100, 1, 1, 12, 0.45),
  (100, 2, 4, 1, 7.90),
  (101, 1, 5, 2, 3.10),
  (102, 1, 2, 6, 0.55),
  (102, 2, 3, 10, 0.20),
  (103, 1, 4, 2, 7.50),
  (103, 2, 8, 1, 6.50),
  (104, 1, 6, 4, 1.25),
  (105, 1, 7, 3, 2.40),
  (105, 2, 5, 1, 3.10),
  (105, 3, 1, 6, 0.45),
  (106, 1, 3, 20, 0.20),
  (107, 1, 8, 2, 6.50);

UPDATE orders SET total = (SELECT coalesce(sum(quantity * price), 0) FROM order_lines WHERE order_id = orders.id);
