// The ASPError object of Server.GetLastError.
#include "host/asp/last_error.h"

#include "host/asp/automation_object.h"

namespace quill::asp {

std::string LastError::Describe() const {
  std::string text = description;
  if (!file.empty()) {
    text += " (" + file;
    if (line > 0) text += ", line " + std::to_string(line);
    text += ")";
  }
  return text;
}

namespace {

class LastErrorObject final : public AutomationObject {
 public:
  explicit LastErrorObject(const LastError& error) : error_(error) {}

 protected:
  std::span<const Member> Members() const override {
    static const Member kMembers[] = {{u"Number", 1},   {u"Description", 2}, {u"Source", 3},
                                      {u"File", 4},     {u"Line", 5},        {u"Column", 6},
                                      {u"Category", 7}, {u"ASPCode", 8},     {u"ASPDescription", 9}};
    return kMembers;
  }

  void Call(DISPID id, WORD flags, const Arguments&, VARIANT* result) override {
    RequireRead(flags, "");
    switch (id) {
      case 1: SetResultInt(result, static_cast<int32_t>(error_.number)); return;
      case 2: SetResultText(result, error_.description); return;
      case 3: SetResultText(result, error_.source); return;
      case 4: SetResultText(result, error_.file); return;
      case 5: SetResultInt(result, error_.line); return;
      case 6: SetResultInt(result, error_.column); return;
      case 7: SetResultText(result, error_.category); return;
      case 8: SetResultText(result, error_.asp_code); return;
      case 9: SetResultText(result, error_.asp_description); return;
    }
  }

 private:
  LastError error_;
};

}  // namespace

olert::ComPtr<IDispatch> NewLastErrorObject(const LastError& error) {
  return olert::ComPtr<IDispatch>::Adopt(new LastErrorObject(error));
}

}  // namespace quill::asp
