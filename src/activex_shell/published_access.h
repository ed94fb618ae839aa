// Reading and writing a published property the way a script expects it.
//
// The property tables (base/published.h) move values in one representation
// per kind; these two functions add the rules of the script boundary on top:
// Booleans read as booleans and are written only from a boolean or a name,
// other enumerations travel by value name, object properties travel as
// shells, events read as Empty and ignore writes.
#pragma once

#include "base/object.h"
#include "base/published.h"
#include "base/variant.h"

namespace quill {

// The value of `prop` on `object`, as script sees it:
//   Integer, Char    Integer (a character as its code); a 32-bit unsigned
//                    value beyond the Integer range as Int64
//   Enumeration      Boolean for the Boolean type; otherwise the name of the
//                    current value ("stEnum"), or its ordinal as Integer
//                    when the value has no name
//   Float            Double
//   String           String
//   Set              Integer, bit n for the member of ordinal n
//   Object           a new shell over the referenced object (shell_value);
//                    a null reference gives a shell over nothing
//   Event            Empty
//   Variant          the value itself
//   Int64            Int64
// REQUIRES: `prop` belongs to the class of `object` or one of its parents.
// Raises whatever the property's reader raises, and Exception "Property X
// is write-only" for a property that has no reader.
Variant get_published_property(TObject& object, const PropertyInfo& prop);

// Stores `value` in `prop` of `object`:
//   Integer, Char    value converted to a 32-bit integer
//   Enumeration      a Boolean value into a Boolean property; otherwise the
//                    value's text looked up among the value names (case
//                    ignored) and stored when found; when not found nothing
//                    is stored and nothing is raised (so 1 leaves a Boolean
//                    as it was, while "true" sets it)
//   Float            value converted to a double
//   String           the value's text (value_text)
//   Set              value converted to a 32-bit integer bitmask
//   Object           the object wrapped by the shell the value holds (a
//                    dispatch reference answering Iactivex_shell, resolved
//                    through its get_address handle); any other value, or a
//                    shell whose object is gone, stores a null reference
//   Event            nothing
//   Variant          the value unchanged
//   Int64            value converted to a 64-bit integer
// Raises Exception "Property X is read-only" for a property without a
// writer (events excepted), the conversion's EConvertError/EVariantError
// for a value of the wrong kind, EConvertError for an object of a class the
// property cannot hold, and whatever the writer raises. Nothing is stored
// when it raises before the writer runs.
void set_published_property(TObject& object, const PropertyInfo& prop, const Variant& value);

}  // namespace quill
