#include "plugin/session.h"

#include "plugin/records.h"
#include "plugin/text_functions.h"
#include "plugin/thread_state.h"
#include "plugin/trap.h"

namespace pellory {
namespace {

Text Tag(TextView method) { return Text(tags::kSessionPrefix) + Text(method); }

}  // namespace

Session::Session(Env& env, const Assembly& assemble) : env_(env) {
  Trap(env_, tags::kSessionInit,
       [&] { instance_no_ = ThreadState::Current().TakeInstanceNumber(); });
  if (assemble) subsystems_ = assemble(*this);
}

Session::~Session() {
  Trap(env_, tags::kSessionTerminate,
       [&] { ThreadState::Current().ReturnInstanceNumber(instance_no_); });
  Trap(env_, tags::kSessionTerminate, [&] { callback_.reset(); });
}

void Session::SetRecords(Text data_rd, Text user_rd) {
  data_rd_ = std::move(data_rd);
  user_rd_ = std::move(user_rd);
}

Text Session::Install() {
  Text reply;
  Trap(env_, Tag(u"Install"), [&] { reply = InstallReal(); });
  return reply;
}

Text Session::Uninstall() { return Text(); }

Text Session::Configure(Text& rd, Text& page) {
  const Text tag = Tag(u"Configure");
  Text& config = ThreadState::Current().config_rd();
  Text upper_page;
  Trap(env_, tag, [&] { config = rd; });
  Trap(env_, tag, [&] {
    upper_page = UpperCase(page);
    AddVar(env_, config, u"Page", Variant(upper_page));
  });
  Trap(env_, tag, [&] {
    if (subsystems_.dialogs) subsystems_.dialogs->Show(config, upper_page == u"ACTION");
  });
  Text reply;
  Trap(env_, tag, [&] { reply = config; });
  return reply;
}

Text Session::Initialize(Text& data_rd, Text& user_rd, ObjectRef& callback) {
  const Text tag = Tag(u"Initialize");
  Text reply;
  Trap(env_, tag, [&] { callback_ = callback; });
  Trap(env_, tag, [&] { data_rd_ = data_rd; });
  Trap(env_, tag, [&] { user_rd_ = user_rd; });
  Trap(env_, tag, [&] { reply = InitializeReal().ToText(&env_.regional()); });
  return reply;
}

Text Session::Uninitialize() {
  const Text tag = Tag(u"Uninitialize");
  Trap(env_, tag, [&] { UninitializeReal(); });
  Trap(env_, tag, [&] { callback_.reset(); });
  return Text();
}

Text Session::LoadAndRemember(TextView tag) {
  Text reply;
  Trap(env_, tag, [&] {
    Text empty;
    reply = LoadReal(empty);
  });
  Trap(env_, tag, [&] {
    const bool failed = UpperCase(GetText(env_, reply, u"Result")) == u"FAIL";
    if (subsystems_.crm) subsystems_.crm->RememberLoad(failed);
  });
  return reply;
}

Text Session::Load(Text& /*vars*/) { return LoadAndRemember(Tag(u"Load")); }

Text Session::Unload() {
  Text reply;
  Trap(env_, Tag(u"Unload"), [&] { reply = UnloadReal(); });
  return reply;
}

Text Session::FindContact(Text rd) {
  const Text tag = Tag(u"FindContact");
  Text reply;
  Trap(env_, tag, [&] { AddVar(env_, rd, u"Cmd", Variant(u"FindContact")); });
  Trap(env_, tag, [&] {
    const Text tel = GetText(env_, rd, u"Tel");
    if (ReadsDialledNumber()) AddVar(env_, rd, kDialledTel, Variant(tel));
    AddVar(env_, rd, u"Tel", Variant(DigitsOnly(tel)));
  });
  Trap(env_, tag,
       [&] { AddVar(env_, rd, u"Text", Variant(WordsOnly(GetText(env_, rd, u"Text")))); });
  Trap(env_, tag, [&] {
    AddVar(env_, rd, u"Begin", Variant(UpperCase(GetText(env_, rd, u"Begin").substr(0, 1))));
  });
  Trap(env_, tag, [&] { reply = FindReal(rd); });
  return reply;
}

bool Session::ReadsDialledNumber() const {
  return subsystems_.lookup && subsystems_.lookup->ReadsDialledNumber();
}

Text Session::FindList(Text rd) {
  const Text tag = Tag(u"FindList");
  Text reply;
  Trap(env_, tag, [&] { AddVar(env_, rd, u"Cmd", Variant(u"FindList")); });
  Trap(env_, tag, [&] {
    Variant number = GetVar(env_, rd, u"Number");
    const Text tel = GetVar(env_, rd, u"Tel", number).ToText(&env_.regional());
    if (ReadsDialledNumber()) AddVar(env_, rd, kDialledTel, Variant(tel));
    AddVar(env_, rd, u"Tel", Variant(DigitsOnly(tel)));
  });
  Trap(env_, tag,
       [&] { AddVar(env_, rd, u"Text", Variant(WordsOnly(GetText(env_, rd, u"Text")))); });
  Trap(env_, tag, [&] {
    AddVar(env_, rd, u"Begin", Variant(UpperCase(GetText(env_, rd, u"Begin").substr(0, 1))));
  });
  Trap(env_, tag, [&] { reply = FindReal(rd); });
  return reply;
}

Text Session::DoAction(Text rd) {
  Text reply;
  Trap(env_, Tag(u"DoAction"), [&] { reply = DoActionReal(rd); });
  return reply;
}

Text Session::CacheStart() {
  const Text tag = Tag(u"CacheStart");
  Text reply;
  Trap(env_, tag, [&] {
    if (subsystems_.lookup) subsystems_.lookup->StartExport();
  });
  Trap(env_, tag, [&] {
    if (!subsystems_.crm || !subsystems_.crm->database()) LoadAndRemember(tag);
  });
  Trap(env_, tag, [&] { reply = CacheRecordReal(); });
  return reply;
}

Text Session::CacheEnd() {
  const Text tag = Tag(u"CacheEnd");
  Text reply;
  Trap(env_, tag, [&] {
    if (subsystems_.lookup) subsystems_.lookup->EndExport();
  });
  Trap(env_, tag, [&] { reply = CacheRecordReal(); });
  return reply;
}

Text Session::CacheRecord() {
  // Made once: the host calls this for every record of an export.
  static const Text tag = Tag(u"CacheRecord");
  Text reply;
  Trap(env_, tag, [&] { reply = CacheRecordReal(); });
  return reply;
}

Text Session::Capabilities() {
  Text reply;
  Trap(env_, Tag(u"Capabilities"), [&] {
    reply = u"{Version=" + IntegerText(kVersionMajor) + u"." + IntegerText(kVersionMinor) +
            u"}{Name=Maximizer}{Description=Maximizer Contacts}{Comments=" +
            Text(kVersionComments) + u"}";
  });
  Trap(env_, Tag(u"Capabilities"), [&] { reply += CapabilitiesReal(); });
  return reply;
}

bool Session::Blocked() { return false; }

Text Session::InstallReal() { return Text(); }

Text Session::UninitializeReal() { return Text(); }

// The working methods of the other subsystems trap their own failures; the
// guard below keeps a failure that slips through from reaching the host, and
// logs it with the working method's own tag.
template <typename R, typename Call>
R Session::Guarded(TextView tag, Call&& call) {
  R reply{};
  Trap(env_, tag, [&] { reply = call(); });
  return reply;
}

Variant Session::InitializeReal() {
  return Guarded<Variant>(tags::kInitialize, [&] {
    if (subsystems_.crm) subsystems_.crm->Initialize();
    if (subsystems_.lookup) subsystems_.lookup->Initialize();
    return Variant();
  });
}

Text Session::LoadReal(Text& /*rd*/) {
  return Guarded<Text>(tags::kLoad, [&] {
    CrmConnection* crm = subsystems_.crm.get();
    if (!crm) return Text();
    Text reply = crm->Load();
    // A load in SQL mode tries the contact table with statements of its
    // own: an export left open does not outlive it.
    if (crm->settings().use_sql && subsystems_.lookup) subsystems_.lookup->DropExport();
    return reply;
  });
}

Text Session::UnloadReal() {
  return Guarded<Text>(tags::kUnload, [&] {
    if (subsystems_.application) subsystems_.application->Release();
    if (subsystems_.crm) subsystems_.crm->Release();
    return Text();
  });
}

Text Session::FindReal(Text rd) {
  return Guarded<Text>(tags::kFind, [&] {
    return subsystems_.lookup ? subsystems_.lookup->Find(std::move(rd)) : Text();
  });
}

bool Session::CheckRunning(bool& start) {
  return Guarded<bool>(tags::kCheckRunning, [&] {
    const bool running = subsystems_.application && subsystems_.application->Attach(start);
    if (subsystems_.crm) subsystems_.crm->ReadUserSettings();
    return running;
  });
}

Text Session::DoActionReal(Text& rd) {
  return Guarded<Text>(tags::kDoAction, [&] {
    if (subsystems_.application) subsystems_.application->DoAction(rd);
    return Text();
  });
}

Text Session::CacheRecordReal() {
  static constexpr TextView kTag = tags::kCache;  // measured when compiled: runs for every row
  return Guarded<Text>(
      kTag, [&] { return subsystems_.lookup ? subsystems_.lookup->CacheRecord() : Text(); });
}

Text Session::GetContact(Variant& res) {
  return Guarded<Text>(tags::kGetContact, [&] {
    return subsystems_.lookup ? subsystems_.lookup->GetContact(res) : Text();
  });
}

Text Session::CapabilitiesReal() {
  return u"{Client=1}{Server=1}{NeedContact=Show Contact,Show Contact Item}";
}

Text Session::SetProperty(Text& /*prop*/, Variant& /*value*/) { return Text(); }

Text Session::GetProperty(Text& /*prop*/) { return Text(); }

}  // namespace pellory
