// The one set of regional settings of the process. It is built on first use
// and never changed afterwards, which is what makes it safe to share between
// threads without a lock.
#include "base/regional_settings.h"

namespace quill {

const TFormatSettings& RegionalSettings() {
  static const TFormatSettings settings;
  return settings;
}

}  // namespace quill
