// Fuzzes the shells' IDispatch (GetIDsOfNames and Invoke) as a hostile
// script host would call them: any DISPID (negative, the fixed 0..5, table
// ids 100 + k and beyond), any flags, any argument count and argument
// VARIANTs (fuzz/variant_builder.h), named arguments or none, a result and
// EXCEPINFO or none.
//
// Each input builds a fresh world of objects and a shell over each: nothing,
// a string list, two collections (a standalone TMySQLMacros and a small
// collection of this file), a component with a property of every kind that
// owns a child component, a MySQL dataset fed from a prepared result (the
// dataset tests' seam, no server) whose rows partly come from the input, one
// of its fields, a second such dataset to be its master, and a data source
// over each (so scripts can link them, in circles too). Shells handed back
// as results join the pool the next calls pick from, and are also passed as
// arguments, so object properties get assigned and datasets closed under
// their field shells. Names come from the verb tables, the published
// properties of every class in the world, and the input.
//
// The world is torn down at the end of each input; every shell and every
// object must be gone by then (no reference leaks), and every answer must be
// one Invoke documents. Calls stay bounded and deterministic: there is no
// server, and the string lists' loadfromfile and savetofile verbs are
// skipped by name before Invoke (the fuzzer must not touch the file system).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "activex_shell/activex_shell.h"
#include "activex_shell/collection_shell.h"
#include "activex_shell/dataset_shell.h"
#include "activex_shell/field_shell.h"
#include "activex_shell/shell_registry.h"
#include "activex_shell/strings_shell.h"
#include "activex_shell/variant_convert.h"
#include "base/collection.h"
#include "base/component.h"
#include "base/published.h"
#include "base/string_list.h"
#include "base/utf8.h"
#include "fake_result.h"
#include "mysql_dataset/data_source.h"
#include "mysql_dataset/fields.h"
#include "mysql_dataset/macros.h"
#include "variant_builder.h"

namespace {

using fuzzing::Builder;
using fuzzing::BuildOptions;
using fuzzing::Input;
using fuzzing::Storage;
using quill::ObjectHandle;
using quill::PropertyInfo;
using quill::TClassInfo;
using quill::TComponent;
using quill::TObject;
using quill::Variant;

// --- Objects of this target ------------------------------------------------

// A component with one published property of every kind. Object properties
// keep handles, so that a referenced object destroyed meanwhile reads as
// none instead of dangling.
class TFuzzBag : public TComponent {
  QUILL_DECLARE_CLASS()

 public:
  using TComponent::TComponent;
  bool enabled = true;
  int32_t count = 0;
  int32_t letter = 'A';
  int32_t color = 0;
  double ratio = 0;
  std::string caption;
  int32_t options = 0;
  ObjectHandle lines = quill::kNoHandle;
  ObjectHandle peer = quill::kNoHandle;
  Variant data;
  int64_t big = 0;
  std::string secret;
};

TFuzzBag& Bag(TObject& o) { return static_cast<TFuzzBag&>(o); }
const TFuzzBag& Bag(const TObject& o) { return static_cast<const TFuzzBag&>(o); }

constexpr std::string_view kColors[] = {"clRed", "clGreen", "clBlue"};
constexpr std::string_view kOptions[] = {"opA", "opB", "opC"};

const PropertyInfo kBagProps[] = {
    quill::BooleanProp(
        "Enabled", [](const TObject& o) { return Variant(Bag(o).enabled ? 1 : 0); },
        [](TObject& o, const Variant& v) { Bag(o).enabled = v.AsInteger() != 0; }, "True"),
    quill::IntegerProp(
        "Count", [](const TObject& o) { return Variant(Bag(o).count); },
        [](TObject& o, const Variant& v) { Bag(o).count = v.AsInteger(); }),
    PropertyInfo{"Letter", quill::PropertyKind::Char, {}, nullptr,
                 [](const TObject& o) { return Variant(Bag(o).letter); },
                 [](TObject& o, const Variant& v) { Bag(o).letter = v.AsInteger(); }},
    quill::EnumProp(
        "Color", kColors, [](const TObject& o) { return Variant(Bag(o).color); },
        [](TObject& o, const Variant& v) { Bag(o).color = v.AsInteger(); }, "clRed"),
    quill::FloatProp(
        "Ratio", [](const TObject& o) { return Variant(Bag(o).ratio); },
        [](TObject& o, const Variant& v) { Bag(o).ratio = v.AsDouble(); }),
    quill::StringProp(
        "Caption", [](const TObject& o) { return Variant(Bag(o).caption); },
        [](TObject& o, const Variant& v) { Bag(o).caption = v.AsString(); }),
    quill::SetProp(
        "Options", kOptions, [](const TObject& o) { return Variant(Bag(o).options); },
        [](TObject& o, const Variant& v) { Bag(o).options = v.AsInteger(); }),
    quill::ObjectProp(
        "Lines", &quill::TStringList::StaticClassInfo,
        [](const TObject& o) { return quill::ResolveHandle(Bag(o).lines); },
        [](TObject& o, TObject* v) { Bag(o).lines = v ? v->Handle() : quill::kNoHandle; }),
    quill::ObjectProp(
        "Peer", &TComponent::StaticClassInfo,
        [](const TObject& o) { return quill::ResolveHandle(Bag(o).peer); },
        [](TObject& o, TObject* v) { Bag(o).peer = v ? v->Handle() : quill::kNoHandle; }),
    quill::EventProp("OnChange"),
    quill::VariantProp(
        "Data", [](const TObject& o) { return Bag(o).data; },
        [](TObject& o, const Variant& v) { Bag(o).data = v; }),
    quill::Int64Prop(
        "Big", [](const TObject& o) { return Variant(Bag(o).big); },
        [](TObject& o, const Variant& v) { Bag(o).big = v.AsInt64(); }),
    quill::StringProp(
        "Version", [](const TObject&) { return Variant("1.0"); }, nullptr),
    quill::StringProp("Secret", nullptr,
                      [](TObject& o, const Variant& v) { Bag(o).secret = v.AsString(); }),
    quill::ObjectProp("Fixed", &TComponent::StaticClassInfo,
                      [](const TObject& o) { return quill::ResolveHandle(Bag(o).peer); }, nullptr),
};

class TFuzzItem : public quill::TCollectionItem {
  QUILL_DECLARE_CLASS()

 public:
  using TCollectionItem::TCollectionItem;
  std::string name;
};

const PropertyInfo kItemProps[] = {
    quill::StringProp(
        "Name", [](const TObject& o) { return Variant(static_cast<const TFuzzItem&>(o).name); },
        [](TObject& o, const Variant& v) { static_cast<TFuzzItem&>(o).name = v.AsString(); }),
};

class TFuzzCollection : public quill::TCollection {
  QUILL_DECLARE_CLASS()

 public:
  std::string_view ItemClassName() const override { return "TFuzzItem"; }

 protected:
  std::unique_ptr<quill::TCollectionItem> NewItem() override {
    return std::make_unique<TFuzzItem>(this);
  }
};

const TClassInfo TFuzzBag::StaticClassInfo{"TFuzzBag", &TComponent::StaticClassInfo, kBagProps};
const TClassInfo TFuzzItem::StaticClassInfo{"TFuzzItem", &quill::TCollectionItem::StaticClassInfo,
                                            kItemProps};
const TClassInfo TFuzzCollection::StaticClassInfo{"TFuzzCollection",
                                                  &quill::TCollection::StaticClassInfo, {}};

// --- Names -----------------------------------------------------------------

void AddList(std::vector<std::string>& names, std::string_view list) {
  size_t start = 0;
  while (start <= list.size()) {
    size_t comma = list.find(',', start);
    if (comma == std::string_view::npos) comma = list.size();
    names.emplace_back(list.substr(start, comma - start));
    start = comma + 1;
  }
}

void AddProperties(std::vector<std::string>& names, const TClassInfo& cls) {
  for (const PropertyInfo* p : quill::ListProperties(cls)) names.emplace_back(p->Name);
}

// Every name the shells know, and a few that only look like them.
const std::vector<std::string>& KnownNames() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> out = {
        "address", "com_object", "get", "put", "exec", "", "child", "dataset", "bag", "master",
        "master_source", "detail_source", "id", "name", "memo", "data", "kind", "MoveNext",
        "FIELDBYNAME", "m_", "f_", "item ", "count\t"};
    AddList(out, quill::Tactivex_shell_strings::kNames);
    AddList(out, quill::Tactivex_shell_collection::kNames);
    for (std::string_view m : quill::kShellDatasetMethodNames) out.emplace_back(m.substr(2));
    for (std::string_view m : quill::kShellFieldMethodNames) out.emplace_back(m.substr(2));
    AddProperties(out, TFuzzBag::StaticClassInfo);
    AddProperties(out, TFuzzItem::StaticClassInfo);
    AddProperties(out, quill::TMySQLDataset::StaticClassInfo);
    AddProperties(out, quill::TMySQLMacro::StaticClassInfo);
    AddProperties(out, quill::TField::StaticClassInfo);
    AddProperties(out, quill::TDataSource::StaticClassInfo);
    return out;
  }();
  return names;
}

// A name from the tables (in a case the input picks) or the input's bytes.
std::string PickName(Input& in) {
  const uint8_t how = in.Byte();
  if (how < 192) {
    const auto& names = KnownNames();
    std::string name = names[in.Byte() % names.size()];
    if (how % 4 == 1) name = quill::LowerCase(name);
    if (how % 4 == 2) {
      for (char& c : name) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
      }
    }
    return name;
  }
  return std::string(in.Chunk(40));
}

// The verbs that reach the file system.
bool IsFileVerb(std::string_view name) {
  const std::string lower = quill::LowerCase(name);
  return lower.find("loadfromfile") != std::string::npos ||
         lower.find("savetofile") != std::string::npos;
}

// --- The world -------------------------------------------------------------

using quill::test::Cells;
using quill::test::Col;

// Text for one cell of a column of `type`: usually a value a server sends,
// sometimes NULL or the input's own bytes.
std::optional<std::string> Cell(Input& in, quill::MySQLType type) {
  using quill::MySQLType;
  const uint8_t how = in.Byte();
  if (how % 8 == 0) return std::nullopt;
  if (how % 8 == 1) return std::string(in.Chunk(24));
  const uint8_t n = in.Byte();
  switch (type) {
    case MySQLType::Long:
    case MySQLType::LongLong: return std::to_string(static_cast<int32_t>(in.U32()));
    case MySQLType::Double: return std::to_string(n * 0.25 - 10);
    case MySQLType::NewDecimal: return std::to_string(n) + ".05";
    case MySQLType::Date:
      return "20" + std::to_string(10 + n % 20) + "-0" + std::to_string(1 + n % 9) + "-15";
    case MySQLType::DateTime: return "2024-02-29 13:0" + std::to_string(n % 10) + ":59";
    case MySQLType::Time: return std::to_string(n % 40) + ":30:00";
    case MySQLType::Tiny: return std::to_string(n % 2);
    case MySQLType::Bit: return std::string(1, static_cast<char>(n));
    default: return std::string(in.Chunk(16));
  }
}

struct World {
  quill::TStringList lines;
  quill::TMySQLMacros macros;
  TFuzzCollection items;
  TFuzzBag bag;
  TComponent child{&bag};
  quill::test::TFakeMySQLDataset ds;  // not owned by the bag: destroyed by the world
  quill::test::TFakeMySQLDataset master;
  // Declared last, destroyed first: the datasets hear of it.
  quill::TDataSource master_source;
  quill::TDataSource detail_source;

  explicit World(Input& in) {
    lines.Add("first");
    lines.Add("second");
    macros.AddMacro("where").Value = Variant("id > 1");
    macros.AddMacro("limit");
    items.Add();
    items.Add();
    bag.SetName("bag");
    child.SetName("child");
    ds.SetName("dataset");
    ds.SQL().SetText("select * from t where [where]");
    using quill::MySQLType;
    ds.result.fields = {
        Col("id", MySQLType::Long, quill::kNotNullFlag | quill::kPriKeyFlag),
        Col("name", MySQLType::VarString, 0, 40),
        Col("memo", MySQLType::Blob, quill::kBlobFlag, 4294967295u),
        Col("kind", MySQLType::String, quill::kEnumFlag | quill::kMultipleKeyFlag, 4),
        Col("data", MySQLType::LongBlob, quill::kBlobFlag | quill::kBinaryFlag, 4294967295u, "t",
            quill::kBinaryCharsetNr),
        Col("price", MySQLType::NewDecimal, 0, 12),
        Col("ratio", MySQLType::Double, 0, 22),
        Col("born", MySQLType::Date, 0, 10),
        Col("seen", MySQLType::DateTime, 0, 19),
        Col("span", MySQLType::Time, 0, 10),
        Col("big", MySQLType::LongLong, quill::kUnsignedFlag, 20),
        Col("flag", MySQLType::Tiny, 0, 1),
        Col("bits", MySQLType::Bit, quill::kUnsignedFlag, 8),
    };
    master.SetName("master");
    master.result.fields = {Col("id", MySQLType::Long, quill::kNotNullFlag | quill::kPriKeyFlag),
                            Col("name", MySQLType::VarString, 0, 40)};
    master.result.rows = {{"1", "one"}, {"2", "two"}, {"3", std::nullopt}};
    master_source.SetName("master_source");
    master_source.SetDataSet(&master);
    detail_source.SetName("detail_source");
    detail_source.SetDataSet(&ds);
    const int rows = in.Byte() % 4;
    for (int r = 0; r < rows; ++r) {
      Cells row;
      for (const auto& f : ds.result.fields) row.push_back(Cell(in, f.Type));
      ds.result.rows.push_back(std::move(row));
    }
  }
};

// The shells the calls pick from; each entry holds one reference.
class Pool {
 public:
  ~Pool() {
    for (IDispatch* d : shells_) d->Release();
  }
  void Add(IDispatch* d) {  // takes over the reference
    if (shells_.size() >= 24) {
      d->Release();
      return;
    }
    shells_.push_back(d);
  }
  void AddShellOver(TObject* o) { Add(quill::shell_variant(o).pdispVal); }
  IDispatch* Pick(Input& in) const { return shells_[in.Byte() % shells_.size()]; }
  const std::vector<IDispatch*>& all() const { return shells_; }

 private:
  std::vector<IDispatch*> shells_;
};

quill::Tactivex_shell* ShellOf(IDispatch* d) {
  quill::Iactivex_shell* shell = nullptr;
  if (FAILED(d->QueryInterface(quill::IID_Iactivex_shell, reinterpret_cast<void**>(&shell)))) {
    return nullptr;
  }
  shell->Release();  // the caller holds its own reference
  return static_cast<quill::Tactivex_shell*>(shell);
}

// The name an Invoke would act on, as far as the file verbs go.
std::string NameOfCall(quill::Tactivex_shell* shell, DISPID id, const DISPPARAMS& params) {
  if (id >= quill::fixed_dispids::name_base) {
    std::lock_guard<quill::Tthread_lock> guard(shell->lock());
    const size_t index = static_cast<size_t>(id - quill::fixed_dispids::name_base);
    return index < shell->names().size() ? shell->names()[index] : std::string();
  }
  if (id >= quill::fixed_dispids::get && id <= quill::fixed_dispids::exec && params.cArgs > 0 &&
      params.rgvarg != nullptr) {
    try {
      return quill::value_text(quill::arg_to_value(params.rgvarg[params.cArgs - 1]));
    } catch (...) {
      return std::string();  // the Invoke fails on the same argument
    }
  }
  return std::string();
}

std::vector<DISPID> g_known_ids;

// QUILL_FUZZ_TRACE=1 prints every call, for reading a reproducer.
bool Tracing() {
  static const bool on = std::getenv("QUILL_FUZZ_TRACE") != nullptr;
  return on;
}

void CallGetIDsOfNames(Input& in, IDispatch* d) {
  const UINT count = 1 + in.Byte() % 3;
  std::vector<std::u16string> texts(count);  // sized once: names point into it
  std::vector<LPOLESTR> names(count, nullptr);
  for (UINT i = 0; i < count; ++i) {
    if (in.Byte() % 16 == 0) continue;  // a null name reads as ""
    texts[i] = quill::Utf8ToUtf16(PickName(in));
    names[i] = texts[i].data();
  }
  std::vector<DISPID> ids(count, -777);
  const HRESULT hr =
      d->GetIDsOfNames(IID_NULL, names.data(), count, LOCALE_USER_DEFAULT, ids.data());
  if (Tracing()) {
    std::fprintf(stderr, "names %s...: %08X id %d\n", quill::Utf16ToUtf8(texts[0]).c_str(),
                 static_cast<unsigned>(hr), ids[0]);
  }
  FUZZ_CHECK(hr == S_OK || hr == DISP_E_UNKNOWNNAME);
  for (DISPID id : ids) {
    if (id != -777 && g_known_ids.size() < 64) g_known_ids.push_back(id);
  }
  if (hr == S_OK) {
    for (DISPID id : ids) FUZZ_CHECK(id != -777);
  }
}

DISPID PickId(Input& in) {
  const uint8_t how = in.Byte();
  switch (how % 6) {
    case 0:
    case 1:
      if (!g_known_ids.empty()) return g_known_ids[in.Byte() % g_known_ids.size()];
      return quill::fixed_dispids::name_base;
    case 2: return static_cast<DISPID>(in.Byte() % 9) - 3;  // -3 .. 5
    case 3: return quill::fixed_dispids::name_base + in.Byte() % 48;
    case 4: return static_cast<DISPID>(in.U32());
    default: return static_cast<DISPID>(-static_cast<int>(in.Byte() % 8)) - 1;
  }
}

void CallInvoke(Input& in, Storage& storage, Pool& pool, IDispatch* d) {
  const DISPID id = PickId(in);
  const WORD flags = static_cast<WORD>(in.Byte() & 0x1F);
  const UINT argc = in.Byte() % 5;

  BuildOptions options;
  options.byref_text = true;
  options.byref_text_bound = quill::kMaxByRefCharText;
  options.objects = pool.all();
  Builder build(in, storage, options);
  std::vector<VARIANT> args(argc);
  for (UINT i = 0; i < argc; ++i) {
    // The first script argument (stored last) is often a name for get,
    // put and exec.
    if (i == argc - 1 && in.Bit()) {
      std::memset(&args[i], 0, sizeof args[i]);
      args[i].bstrVal = quill::StringToBstr(PickName(in));
      args[i].vt = VT_BSTR;
    } else {
      args[i] = build.Make();
    }
  }

  DISPID named[2] = {DISPID_PROPERTYPUT, static_cast<DISPID>(in.Byte()) - 4};
  DISPPARAMS params{args.empty() ? nullptr : args.data(), nullptr, argc, 0};
  const uint8_t shape = in.Byte();
  if (shape % 4 == 1 && argc > 0) {
    params.rgdispidNamedArgs = named;
    params.cNamedArgs = argc >= 2 ? 1 + shape / 128 : 1;
  }
  DISPPARAMS* pparams = shape % 16 == 15 ? nullptr : &params;
  if (shape % 32 == 14) params.rgvarg = nullptr;  // arguments announced, not given

  VARIANT result;
  VariantInit(&result);
  EXCEPINFO excep{};
  UINT arg_error = 0;
  const bool want_result = (shape & 0x20) == 0;
  const bool want_excep = (shape & 0x40) == 0;

  quill::Tactivex_shell* shell = ShellOf(d);
  FUZZ_CHECK(shell != nullptr);
  const DISPPARAMS none{nullptr, nullptr, 0, 0};
  const bool skip = IsFileVerb(NameOfCall(shell, id, pparams ? params : none));
  if (!skip) {
    const HRESULT hr = d->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, pparams,
                                 want_result ? &result : nullptr, want_excep ? &excep : nullptr,
                                 &arg_error);
    if (Tracing()) {
      const BSTR text = result.vt == VT_BSTR ? result.bstrVal : excep.bstrDescription;
      std::fprintf(stderr, "invoke %s id %d flags %u args %u: %08X vt %u %s\n",
                   std::string(shell->wrapped() ? shell->wrapped()->ClassName() : "-").c_str(), id,
                   flags, argc, static_cast<unsigned>(hr), result.vt,
                   quill::BstrToString(text).c_str());
    }
    FUZZ_CHECK(hr == S_OK || hr == DISP_E_UNKNOWNNAME || hr == DISP_E_BADPARAMCOUNT ||
          hr == E_INVALIDARG || hr == DISP_E_EXCEPTION);
    if (hr == E_INVALIDARG) FUZZ_CHECK(params.rgvarg == nullptr && argc > 0);
    if (hr == DISP_E_EXCEPTION && want_excep) {
      FUZZ_CHECK(excep.scode == DISP_E_EXCEPTION && excep.bstrDescription != nullptr);
    }
    if (hr != DISP_E_EXCEPTION) FUZZ_CHECK(excep.bstrDescription == nullptr);
  }
  SysFreeString(excep.bstrDescription);
  SysFreeString(excep.bstrSource);
  SysFreeString(excep.bstrHelpFile);

  // Shells handed back join the pool; every other result is released.
  if (result.vt == VT_DISPATCH && result.pdispVal != nullptr && ShellOf(result.pdispVal)) {
    pool.Add(result.pdispVal);
  } else {
    FUZZ_CHECK(VariantClear(&result) == S_OK);
  }
  for (VARIANT& a : args) fuzzing::ClearBuilt(a);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const size_t baseline_objects = quill::LiveObjectCount();
  static const size_t baseline_shells = quill::shell_registry().count();
  Input in(data, size);
  g_known_ids.clear();
  {
    World world(in);
    {
      Storage storage;  // outlives the pool: pooled values may point into it
      Pool pool;
      const uint8_t setup = in.Byte();
      try {
        if (setup & 2) world.master.SetActive(true);
        if (setup & 4) {
          world.ds.SetMasterFields("id");
          world.ds.SetMasterSource(&world.master_source);
        }
        if (setup & 1) world.ds.SetActive(true);
      } catch (const std::exception&) {
        // rows the dataset refuses: the shells meet a closed dataset
      }
      pool.AddShellOver(nullptr);
      pool.AddShellOver(&world.lines);
      pool.AddShellOver(&world.macros);
      pool.AddShellOver(&world.items);
      pool.AddShellOver(&world.bag);
      pool.AddShellOver(&world.ds);
      pool.AddShellOver(&world.ds.SQL());
      pool.AddShellOver(&world.master);
      pool.AddShellOver(&world.master_source);
      pool.AddShellOver(&world.detail_source);
      if (world.ds.Active() && world.ds.FieldCount() > 0) {
        pool.Add(quill::shell_variant(&world.ds.Field(in.Byte() % world.ds.FieldCount())).pdispVal);
      }
      for (int step = 0; step < 32 && !in.empty(); ++step) {
        IDispatch* d = pool.Pick(in);
        if (in.Byte() % 3 == 0) {
          CallGetIDsOfNames(in, d);
        } else {
          CallInvoke(in, storage, pool, d);
        }
      }
    }
  }
  FUZZ_CHECK(fuzzing::ValueObject::Live() == 0);
  FUZZ_CHECK(quill::shell_registry().count() == baseline_shells);
  FUZZ_CHECK(quill::LiveObjectCount() == baseline_objects);
  return 0;
}
