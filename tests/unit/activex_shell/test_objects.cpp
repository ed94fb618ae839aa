// Property tables of the test objects.
#include "test_objects.h"

#include <thread>

#include "base/published.h"

namespace quill::testing {
namespace {

TPropertyBag& Bag(TObject& o) {
  auto& bag = static_cast<TPropertyBag&>(o);
  ++bag.writes;
  return bag;
}
const TPropertyBag& Bag(const TObject& o) { return static_cast<const TPropertyBag&>(o); }

constexpr std::string_view kColors[] = {"clRed", "clGreen", "clBlue"};
constexpr std::string_view kOptions[] = {"opA", "opB", "opC"};

const PropertyInfo kBagProps[] = {
    BooleanProp(
        "Enabled", [](const TObject& o) { return Variant(Bag(o).enabled ? 1 : 0); },
        [](TObject& o, const Variant& v) { Bag(o).enabled = v.AsInteger() != 0; }, "True"),
    IntegerProp(
        "Count", [](const TObject& o) { return Variant(Bag(o).count); },
        [](TObject& o, const Variant& v) { Bag(o).count = v.AsInteger(); }),
    PropertyInfo{"Letter", PropertyKind::Char, {}, nullptr,
                 [](const TObject& o) { return Variant(Bag(o).letter); },
                 [](TObject& o, const Variant& v) { Bag(o).letter = v.AsInteger(); }},
    EnumProp(
        "Color", kColors, [](const TObject& o) { return Variant(Bag(o).color); },
        [](TObject& o, const Variant& v) { Bag(o).color = v.AsInteger(); }, "clRed"),
    FloatProp(
        "Ratio", [](const TObject& o) { return Variant(Bag(o).ratio); },
        [](TObject& o, const Variant& v) { Bag(o).ratio = v.AsDouble(); }),
    StringProp(
        "Caption", [](const TObject& o) { return Variant(Bag(o).caption); },
        [](TObject& o, const Variant& v) { Bag(o).caption = v.AsString(); }),
    SetProp(
        "Options", kOptions, [](const TObject& o) { return Variant(Bag(o).options); },
        [](TObject& o, const Variant& v) { Bag(o).options = v.AsInteger(); }),
    ObjectProp(
        "Lines", &TStringList::StaticClassInfo,
        [](const TObject& o) -> TObject* { return Bag(o).lines; },
        [](TObject& o, TObject* v) { Bag(o).lines = static_cast<TStringList*>(v); }),
    ObjectProp(
        "Peer", &TComponent::StaticClassInfo,
        [](const TObject& o) -> TObject* { return Bag(o).peer; },
        [](TObject& o, TObject* v) { Bag(o).peer = static_cast<TComponent*>(v); }),
    EventProp("OnChange"),
    VariantProp(
        "Data", [](const TObject& o) { return Bag(o).data; },
        [](TObject& o, const Variant& v) { Bag(o).data = v; }),
    Int64Prop(
        "Big", [](const TObject& o) { return Variant(Bag(o).big); },
        [](TObject& o, const Variant& v) { Bag(o).big = v.AsInt64(); }),
    StringProp(
        "Version", [](const TObject&) { return Variant("1.0"); }, nullptr),
};

const PropertyInfo kItemProps[] = {
    StringProp(
        "Name", [](const TObject& o) { return Variant(static_cast<const TTestItem&>(o).name); },
        [](TObject& o, const Variant& v) { static_cast<TTestItem&>(o).name = v.AsString(); }),
};

}  // namespace

const TClassInfo TPropertyBag::StaticClassInfo{"TPropertyBag", &TComponent::StaticClassInfo,
                                               kBagProps};
const TClassInfo TTestItem::StaticClassInfo{"TTestItem", &TCollectionItem::StaticClassInfo,
                                            kItemProps};
const TClassInfo TTestCollection::StaticClassInfo{"TTestCollection", &TCollection::StaticClassInfo,
                                                  {}};
const TClassInfo TCounter::StaticClassInfo{"TCounter", &TComponent::StaticClassInfo, {}};
const TClassInfo TVerbBag::StaticClassInfo{"TVerbBag", &TComponent::StaticClassInfo, {}};

void TVerbBag::invoke_method(const std::string& name, const Variant& params, Variant& result) {
  last_name = name;
  last_params = params;
  if (name == "twice") {
    result = Variant(param(params, 0).AsInteger() * 2);
  } else if (name == "join") {
    std::string text;
    for (size_t i = 0; i < param_count(params); ++i) {
      if (i > 0) text += "+";
      text += value_text(param(params, i));
    }
    result = Variant(text);
  }
}

void TCounter::invoke_method(const std::string& name, const Variant&, Variant& result) {
  if (name != "bump") return;
  int64_t seen = value;
  std::this_thread::yield();
  value = seen + 1;
  result = Variant(value);
}

}  // namespace quill::testing
