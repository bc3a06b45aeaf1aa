// Contact lookup: the working methods behind FindContact / FindList
// (FindReal), the contact record (GetContact) and the cache export
// (CacheRecordReal).
#pragma once

#include "lookup/any_format.h"
#include "plugin/crm_connection.h"
#include "plugin/session.h"
#include "plugin/trace_tags.h"

namespace pellory::lookup {

// The 25 columns read in SQL mode, by the searches and by the cache export.
inline constexpr char16_t kColumnList[] =
    u"Client_ID, Name_Type, First_Name, Firm, Name, DEPARTMENT, TITLE, PHONE_1_Extension, "
    u"PHONE_1, PHONE_2_Extension, PHONE_2, PHONE_3, PHONE_3_Extension, PHONE_4, "
    u"PHONE_4_Extension, Reverse_Phone_1, Reverse_Phone_2, Reverse_Phone_3, Reverse_Phone_4, "
    u"ADDRESS_Line_1, ADDRESS_Line_2, CITY, STATE_PROVINCE, ZIP_CODE, COUNTRY";

// The lookup of one Session. It reaches the database through the Session's
// connection and keeps what the export and the last search leave.
class Lookup final : public ContactLookup {
 public:
  Lookup(Session& session, CrmConnection& crm)
      : session_(session), env_(session.env()), crm_(crm) {}

  void Initialize() override;
  bool ReadsDialledNumber() const override { return number_match_.any_format; }
  Text Find(Text rd) override;  // find.cpp
  Text GetContact(Variant& res) override;
  Text CacheRecord() override;  // cache.cpp
  void StartExport() override { export_state_ = u"START"; }
  void EndExport() override;
  void DropExport() override { export_rs_.reset(); }
  const Text& search_failure() const override { return search_failure_; }
  void SetObserver(SearchObserver* observer) override { observer_ = observer; }

 private:
  Text StartRecords();

  Session& session_;
  Env& env_;
  CrmConnection& crm_;
  // The export: its state ("START" inside CacheStart, "RUN1" while records
  // are handed out, "END" after the last one, "TERMINATE" after CacheEnd,
  // empty before any), its result set, and why the result set failed on the
  // way (a move or a read), for the next CacheRecord to report instead of
  // an end of data.
  Text export_state_;
  ResultSetRef export_rs_;
  Text export_failure_;
  Text search_failure_;
  SearchObserver* observer_ = nullptr;
  // How number searches read numbers; read at every start-up.
  NumberMatch number_match_;
  // "SqlFilter" = "Server": in SQL mode the server picks the rows a search
  // reads, instead of the whole table being read.
  bool server_filter_ = false;
};

// Reads "SqlFilter" from `data_rd`: true for "Server", false for "Client"
// (the default); another value goes to the trace log (under `tag`) and
// counts as "Client".
bool ReadServerFilter(Env& env, TextView data_rd, TextView tag);

// `value` with every single quote doubled, for use between single quotes in
// a statement. Text without quotes comes back unchanged.
Text QuoteDoubled(TextView value);

// The most entries of a list search: "MaxFind" read as a 16-bit whole
// number, values beyond that range clamped to it. Throws Failure when the
// value is not a number.
int16_t MaxFindValue(const Variant& value);

}  // namespace pellory::lookup
