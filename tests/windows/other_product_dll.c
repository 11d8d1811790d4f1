/* A tovrik.dll that another product put into the system folder; only its version matters. */
int other_product_marker = 1;
