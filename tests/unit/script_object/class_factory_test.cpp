// The class factory's failure path: an object that cannot be made or
// started is reported to the (absent) user, captioned "VEV Error", and
// freed; the caller gets E_UNEXPECTED and nothing stays alive.
#include <gtest/gtest.h>

#include "base/errors.h"
#include "script_object/auto_object.h"
#include "script_object/com_server.h"
#include "support/scripted_ui.h"

namespace quill {

// An automation object whose start-up fails (not in an anonymous namespace:
// see the note on interface declarations in the module tests).
class FailingObject final : public TASPObject {
 public:
  explicit FailingObject(bool* destroyed) : destroyed_(destroyed) {}
  void Initialize() override { throw EDatabaseError("Cannot start: no server"); }

  HRESULT get_Server(BSTR, BSTR, BSTR, ULONG, BSTR, VARIANT_BOOL, UINT, VARIANT*) override {
    return E_NOTIMPL;
  }
  HRESULT get_Dataset(BSTR, BSTR, VARIANT_BOOL, BSTR, BSTR, VARIANT*) override { return E_NOTIMPL; }
  HRESULT Connect(BSTR, BSTR, BSTR, ULONG, BSTR, VARIANT_BOOL, UINT) override { return E_NOTIMPL; }
  HRESULT Link(BSTR, BSTR, BSTR) override { return E_NOTIMPL; }
  HRESULT UnLink(BSTR) override { return E_NOTIMPL; }
  HRESULT get_Content(BSTR, VARIANT_BOOL, BSTR, BSTR*) override { return E_NOTIMPL; }
  HRESULT get_ContentTable(BSTR, VARIANT_BOOL, BSTR, BSTR, BSTR, BSTR*) override {
    return E_NOTIMPL;
  }
  HRESULT Execute(BSTR, BSTR, BSTR, VARIANT) override { return E_NOTIMPL; }
  HRESULT ExecSQL(BSTR, BSTR, BSTR, BSTR, ULONG, BSTR, VARIANT_BOOL, UINT) override {
    return E_NOTIMPL;
  }
  HRESULT get_Recordset(BSTR, BSTR, VARIANT_BOOL, BSTR, BSTR, VARIANT*) override {
    return E_NOTIMPL;
  }
  HRESULT get_Connection(BSTR, BSTR, BSTR, ULONG, BSTR, VARIANT_BOOL, UINT, VARIANT*) override {
    return E_NOTIMPL;
  }
  HRESULT get_FormatDateTime(BSTR, DATE, BSTR*) override { return E_NOTIMPL; }
  HRESULT BeginTrans() override { return E_NOTIMPL; }
  HRESULT CommitTrans() override { return E_NOTIMPL; }
  HRESULT RollbackTrans() override { return E_NOTIMPL; }
  HRESULT get_InTransaction(VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT get_Query(BSTR, BSTR, VARIANT, VARIANT*) override { return E_NOTIMPL; }
  HRESULT Exec(BSTR, VARIANT, VARIANT*) override { return E_NOTIMPL; }
  HRESULT get_GetRows(BSTR, LONG, BSTR, VARIANT*) override { return E_NOTIMPL; }
  HRESULT get_ContentJSON(BSTR, BSTR*) override { return E_NOTIMPL; }

 protected:
  ~FailingObject() override { *destroyed_ = true; }

 private:
  bool* destroyed_;
};

namespace {

TEST(ClassFactory, CreationErrorTextEndsWithAFullStop) {
  EXPECT_EQ(CreationErrorText("boom"), "boom.");
  EXPECT_EQ(CreationErrorText("done."), "done.");
  EXPECT_EQ(CreationErrorText("what!"), "what!") << "'!' sorts before '.'";
  EXPECT_EQ(CreationErrorText("1 - 2"), "1 - 2.") << "'2' sorts after '.'";
  EXPECT_EQ(CreationErrorText(""), "");
}

TEST(ClassFactory, FailedCreationIsShownAndAnswersUnexpected) {
  auto ui = std::make_shared<test::ScriptedUi>();
  test::ScopedUiProvider use(ui);
  TAutoObjectFactory factory(CLSID_Quill, []() -> TAutoObject* {
    throw Exception("Out of handles");
  });
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(factory.CreateInstance(nullptr, IID_IDispatch, &out), E_UNEXPECTED);
  EXPECT_EQ(out, nullptr);
  ASSERT_EQ(ui->calls.size(), 1u);
  EXPECT_EQ(ui->calls[0].kind, test::UiCall::Kind::kMessageBox);
  EXPECT_EQ(ui->calls[0].caption, "VEV Error");
  EXPECT_EQ(ui->calls[0].text, "Out of handles.");
  EXPECT_EQ(ui->calls[0].flags & 0xF0u, ui::MB_ICONSTOP);
  EXPECT_NE(ui->calls[0].flags & ui::MB_SETFOREGROUND, 0u);
}

TEST(ClassFactory, ObjectThatFailsToStartIsFreed) {
  auto ui = std::make_shared<test::ScriptedUi>();
  test::ScopedUiProvider use(ui);
  bool destroyed = false;
  const LONG before = TComServer::Instance().ObjectCount();
  TAutoObjectFactory factory(CLSID_Quill, [&]() -> TAutoObject* {
    return new FailingObject(&destroyed);
  });
  void* out = nullptr;
  EXPECT_EQ(factory.CreateInstance(nullptr, IID_IDispatch, &out), E_UNEXPECTED);
  EXPECT_TRUE(destroyed);
  EXPECT_EQ(TComServer::Instance().ObjectCount(), before);
  ASSERT_EQ(ui->calls.size(), 1u);
  EXPECT_EQ(ui->calls[0].text, "Cannot start: no server.");
}

}  // namespace
}  // namespace quill
