-- The contact table of the SQL-mode lookups through the COM object:
-- every column is text, as the address book writes it.
create table Client (Client_Id text, Name_Type text, First_Name text, Name text, Firm text, DEPARTMENT text, TITLE text, PHONE_1 text, PHONE_1_Extension text, PHONE_2 text, PHONE_2_Extension text, PHONE_3 text, PHONE_3_Extension text, PHONE_4 text, PHONE_4_Extension text, Reverse_Phone_1 text, Reverse_Phone_2 text, Reverse_Phone_3 text, Reverse_Phone_4 text, ADDRESS_Line_1 text, ADDRESS_Line_2 text, CITY text, STATE_PROVINCE text, ZIP_CODE text, COUNTRY text);
insert into Client values ('P1', 'I', 'Anne', 'Smith', 'Acme Ltd', '', '', '+44 (0)1234 567890', 'MAIN', '', '', '', '', '', '', '0987654321044', '', '', '', '', '', 'Leeds', '', 'LS1 4AP', '');
insert into Client values ('P2', 'I', 'John', 'Smith', 'Smith & Sons', '', '', '01632 960001', 'WORK', '', '', '+44 (0) 1234 567 890', 'Mobile', '', '', '10006923610', '', '0987654321044', '', '', '', 'York', '', '', '');
insert into Client values ('C1', 'C', '', 'Acme Ltd', '', '', '', '020 7946 0000', 'FAX', '', '', '', '', '', '', '00006497020', '', '', '', '', '', 'London', '', '', '');
insert into Client values ('Q''1', 'I', 'Seán', 'O''Brien', 'O''Brien & Co', '', '', '+353 1 555 0100', '', '', '', '', '', '', '', '00105551353', '', '', '', '', '', 'Dublin', '', '', '');
insert into Client values ('T1', 'I', 'Gerard', '''t Hooft', 'Universiteit Utrecht', '', '', '+31 30 253 5000', 'WORK', '', '', '', '', '', '', '00053520313', '', '', '', '', '', 'Utrecht', '', '', '');
insert into Client values ('J1', 'I', 'John', 'Smithers', '', '', '', '(555) 123-4567', 'Home', '', '', '', '', '', '', '7654321555', '', '', '', '', '', 'Springfield', '', '', '');
