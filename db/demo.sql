/* The demo campaign a new station database starts with, so a first Start sends
   something: a business card, stored through the schema's own procedure as the
   campaign editor would store it. Run after a CONNECT to the new database. */
EXECUTE PROCEDURE ADD_CAMPAIGN('Welcome card', 0, NULL, NULL, NULL, NULL, 1, 1, 'welcome.vcf',
  'BEGIN:VCARD' || ascii_char(13) || ascii_char(10) || 'VERSION:2.1' || ascii_char(13) || ascii_char(10) ||
  'ORG:Tavlin demo shop' || ascii_char(13) || ascii_char(10) || 'TEL;PREF;WORK:+1 555 0100' || ascii_char(13) ||
  ascii_char(10) || 'URL:http://shop.example' || ascii_char(13) || ascii_char(10) ||
  'NOTE:Welcome! Show this card at the till for 10% off.' || ascii_char(13) || ascii_char(10) ||
  'END:VCARD' || ascii_char(13) || ascii_char(10),
  NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL);
COMMIT;
