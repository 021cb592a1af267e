/* The drug-name registry table as the component reads it. Every test and benchmark database
   is made with it; a test may give the code column another type. */
create table tbl_reestr_names (code integer, trade_name_id integer, fabr_name_id integer,
  trade_name varchar(100), full_form_name varchar(100), fabr_name varchar(100));
