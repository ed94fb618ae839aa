// Script-side reading and writing of published properties, by kind.
#include "activex_shell/published_access.h"

#include <limits>
#include <string>

#include "activex_shell/activex_shell.h"
#include "base/errors.h"
#include "platform/olert/automation.h"

namespace quill {
namespace {

// The object a script value stands for when it is assigned to an object
// property: the one named by the handle of the shell it holds, else none.
TObject* ObjectOfShell(const Variant& value) {
  if (value.Type() != VarType::Dispatch || value.RawDispatch() == nullptr) return nullptr;
  olert::ComPtr<Iactivex_shell> shell;
  if (FAILED(value.RawDispatch()->QueryInterface(IID_Iactivex_shell, shell.ReceiveVoid())) ||
      !shell) {
    return nullptr;
  }
  LONG address = 0;
  if (FAILED(shell->get_address(&address))) return nullptr;
  return ResolveHandle(static_cast<ObjectHandle>(address));
}

Variant ReadScalar(const TObject& object, const PropertyInfo& prop) {
  if (prop.Read == nullptr) {
    throw Exception("Property " + std::string(prop.Name) + " is write-only");
  }
  return prop.Read(object);
}

}  // namespace

Variant get_published_property(TObject& object, const PropertyInfo& prop) {
  switch (prop.Kind) {
    case PropertyKind::Event: return Variant();
    case PropertyKind::Object: {
      if (prop.ReadObject == nullptr) {
        throw Exception("Property " + std::string(prop.Name) + " is write-only");
      }
      return shell_value(prop.ReadObject(object));
    }
    case PropertyKind::Integer:
    case PropertyKind::Char: {
      Variant v = ReadScalar(object, prop);
      if (v.Type() == VarType::Int64 && v.RawInt() > std::numeric_limits<int32_t>::max()) return v;
      return Variant(v.AsInteger());
    }
    case PropertyKind::Enumeration: {
      Variant v = ReadScalar(object, prop);
      if (prop.IsBoolean()) return Variant(v.AsBoolean());
      int32_t ordinal = v.AsInteger();
      if (ordinal >= 0 && static_cast<size_t>(ordinal) < prop.EnumNames.size()) {
        return Variant(prop.EnumNames[static_cast<size_t>(ordinal)]);
      }
      return Variant(ordinal);
    }
    case PropertyKind::Float: return Variant(ReadScalar(object, prop).AsDouble());
    case PropertyKind::String: {
      Variant v = ReadScalar(object, prop);
      return v.Type() == VarType::String ? v : Variant(v.AsString());
    }
    case PropertyKind::Set: return Variant(ReadScalar(object, prop).AsInteger());
    case PropertyKind::Int64: return Variant(ReadScalar(object, prop).AsInt64());
    case PropertyKind::Variant: return ReadScalar(object, prop);
  }
  return Variant();
}

void set_published_property(TObject& object, const PropertyInfo& prop, const Variant& value) {
  if (prop.Kind == PropertyKind::Event) return;  // handlers are not the script's to set
  auto read_only = [&prop] {
    return Exception("Property " + std::string(prop.Name) + " is read-only");
  };
  if (prop.Kind == PropertyKind::Object) {
    if (prop.WriteObject == nullptr) throw read_only();
    TObject* target = ObjectOfShell(value);
    // The writer trusts the class it was declared with; a shell over some
    // other kind of object must not reach it.
    if (target != nullptr && prop.ObjectClass != nullptr &&
        !target->InheritsFrom(*prop.ObjectClass)) {
      throw EConvertError("Cannot assign a " + std::string(target->ClassName()) +
                          " to the property " + std::string(prop.Name) + ", which holds a " +
                          std::string(prop.ObjectClass->ClassName));
    }
    prop.WriteObject(object, target);
    return;
  }
  if (prop.Write == nullptr) throw read_only();
  switch (prop.Kind) {
    case PropertyKind::Integer:
    case PropertyKind::Char:
    case PropertyKind::Set: prop.Write(object, Variant(value.AsInteger())); return;
    case PropertyKind::Float: prop.Write(object, Variant(value.AsDouble())); return;
    case PropertyKind::String: prop.Write(object, Variant(value_text(value))); return;
    case PropertyKind::Int64: prop.Write(object, Variant(value.AsInt64())); return;
    case PropertyKind::Variant: prop.Write(object, value); return;
    case PropertyKind::Enumeration: {
      if (prop.IsBoolean() && value.Type() == VarType::Boolean) {
        prop.Write(object, Variant(static_cast<int32_t>(value.RawInt() != 0 ? 1 : 0)));
        return;
      }
      int ordinal = EnumOrdinal(prop.EnumNames, value_text(value));
      if (ordinal >= 0) prop.Write(object, Variant(static_cast<int32_t>(ordinal)));
      return;
    }
    case PropertyKind::Object:
    case PropertyKind::Event: return;
  }
}

}  // namespace quill
