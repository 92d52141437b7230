// The window as built, StrToInt, and the error paths of the application
// object: the tests that run on every platform (compiled for Windows too).
#include <wx/uiaction.h>

#include "app/application.h"
#include "app/exception.h"
#include "app/str_to_int.h"
#include "tests/support.h"

namespace {

// A real click: the pointer moves onto the control and presses its button.
void ClickWithThePointer(wxWindow* control) {
  PumpUntil([&] { return control->IsShownOnScreen(); });
  PumpFor(100);
  wxUIActionSimulator pointer;
  pointer.MouseMove(control->GetScreenRect().GetPosition() + control->GetSize() / 2);
  PumpFor(50);
  pointer.MouseClick();
}

TEST_F(WindowTest, LayoutMatchesTheTable) {
  EXPECT_EQ(form->GetTitle(), L"TAVIK支援　ＨＰ定期訪問");
  EXPECT_EQ(form->GetPosition(), wxPoint(291, 142));
  EXPECT_EQ(form->GetClientSize(), wxSize(788, 495));

  const std::wstring example = L"http://example.jp/a.php";
  struct Row {
    wxWindow* control;
    const char* name;
    int left, top, width, height;
    bool may_grow;  // a label's width may grow so that its whole caption shows
    std::wstring caption;
  };
  const Row rows[] = {
      {form->Label1, "Label1", 16, 16, 236, 12, true, L"ＵＲＬ記述　昼用　例）" + example},
      {form->Edit1, "Edit1", 16, 32, 425, 20, false, L""},
      {form->Label3, "Label3", 464, 16, 56, 12, true, L"分　（間隔）"},
      {form->Edit2, "Edit2", 464, 32, 57, 20, false, L""},
      {form->Button1, "Button1", 616, 32, 75, 25, false, L"実行"},
      {form->Label2, "Label2", 16, 64, 236, 12, true, L"ＵＲＬ記述　夜用　例）" + example},
      {form->Edit3, "Edit3", 16, 80, 425, 20, false, L""},
      {form->CheckBox1, "CheckBox1", 464, 80, 177, 17, true, L"夜間訪問　0:00 ～6:59"},
      {form->Label4, "Label4", 16, 112, 98, 12, true, L"訪問したＨＰの表示"},
      {form->WebBrowser1, "WebBrowser1", 16, 136, 713, 313, false, L""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const wxRect rect = row.control->GetRect();
    EXPECT_EQ(rect.GetPosition(), wxPoint(row.left, row.top));
    if (row.may_grow) {
      EXPECT_GE(rect.width, row.width);
      EXPECT_GE(rect.width, row.control->GetBestSize().x);  // the whole caption shows
    } else {
      EXPECT_EQ(rect.width, row.width);
    }
    // Heights follow the table unless the theme needs more to show the text whole.
    EXPECT_GE(rect.height, row.height);
    EXPECT_GE(rect.height, row.control->GetBestSize().y);
    EXPECT_LE(rect.height, row.height + 8);
    if (!row.caption.empty()) {
      EXPECT_EQ(row.control->GetLabel(), row.caption);
    }
  }

  // No two controls overlap, but for a label's last pixel of line spacing,
  // where the theme made the label taller than the layout gives it.
  for (const Row& a : rows)
    for (const Row& b : rows) {
      if (&a >= &b) continue;
      const wxRect common = a.control->GetRect().Intersect(b.control->GetRect());
      if (common.IsEmpty()) continue;
      const bool label_over_box = a.may_grow && a.control != form->CheckBox1;
      EXPECT_TRUE(label_over_box && common.height <= 2) << a.name << " overlaps " << b.name;
    }
}

TEST_F(WindowTest, TabOrderFollowsTheTable) {
  std::vector<wxWindow*> focusable;
  for (wxWindow* child : form->Edit1->GetParent()->GetChildren())
    if (child->AcceptsFocusFromKeyboard() || child == form->WebBrowser1) focusable.push_back(child);
  const std::vector<wxWindow*> expected = {form->Edit1,     form->Edit2,   form->Edit3,
                                           form->CheckBox1, form->Button1, form->WebBrowser1};
  EXPECT_EQ(focusable, expected);
}

TEST_F(WindowTest, StartsWithTimerRunningBlankPaneAndClearBox) {
  EXPECT_TRUE(form->Timer1->GetEnabled());
  EXPECT_TRUE(form->Timer1->IsRunning());
  EXPECT_EQ(form->Timer1->GetInterval(), 60000u);
  EXPECT_TRUE(form->WebBrowser1->LocationURL().empty());
  EXPECT_FALSE(form->CheckBox1->GetValue());
  EXPECT_EQ(form->CheckBox1->GetBackgroundColour(), TForm1::BtnFace());
  // The design texts never show: settings (or their defaults) replaced them.
  EXPECT_NE(form->Edit1->GetValue(), "Edit1");
  EXPECT_NE(form->Edit2->GetValue(), "Edit2");
  EXPECT_NE(form->Edit3->GetValue(), "Edit3");
}

TEST_F(WindowTest, ResizingLeavesEveryControlWhereItWas) {
  std::vector<wxRect> before;
  for (wxWindow* child : form->Edit1->GetParent()->GetChildren()) before.push_back(child->GetRect());
  form->SetClientSize(400, 300);
  PumpFor(50);
  form->SetClientSize(1200, 900);
  PumpFor(50);
  std::vector<wxRect> after;
  for (wxWindow* child : form->Edit1->GetParent()->GetChildren()) after.push_back(child->GetRect());
  EXPECT_EQ(before, after);
}

TEST(StrToInt, ConvertsDecimalText) {
  EXPECT_EQ(StrToInt("0"), 0);
  EXPECT_EQ(StrToInt("15"), 15);
  EXPECT_EQ(StrToInt("+7"), 7);
  EXPECT_EQ(StrToInt("-5"), -5);
  EXPECT_EQ(StrToInt("007"), 7);
  EXPECT_EQ(StrToInt(" 12"), 12);
  EXPECT_EQ(StrToInt(L"１５"), 15);
  EXPECT_EQ(StrToInt(L"－３"), -3);
  EXPECT_EQ(StrToInt("2147483647"), 2147483647);
  EXPECT_EQ(StrToInt("-2147483648"), -2147483647 - 1);
}

TEST(StrToInt, RejectsWhatIsNotAnInteger) {
  for (const wchar_t* text : {L"", L" ", L"abc", L"12abc", L"1 2", L"12 ", L"+", L"-", L"1.5",
                              L"0x10", L"2147483648", L"-2147483649", L"99999999999999999999"}) {
    SCOPED_TRACE(wxString(text).utf8_string());
    try {
      StrToInt(text);
      ADD_FAILURE() << "no error";
    } catch (const EConvertError& error) {
      EXPECT_NE(error.Message.Find(wxString("'") + text + "'"), wxNOT_FOUND) << error.what();
      EXPECT_NE(error.Message.Find(L"整数"), wxNOT_FOUND) << error.what();
    }
  }
}

TEST_F(WindowTest, ErrorInAHandlerIsShownAndTheLoopGoesOn) {
  ErrorCapture errors;
  form->Edit2->SetValue("abc");
  form->Show();
  ClickWithThePointer(form->Button1);
  EXPECT_TRUE(PumpUntil([&] { return !errors.messages.empty(); }));
  bool later_event_ran = false;
  form->CallAfter([&] { later_event_ran = true; });
  EXPECT_TRUE(PumpUntil([&] { return later_event_ran; }));
  ASSERT_EQ(errors.messages.size(), 1u);
  EXPECT_EQ(errors.messages[0], L"間隔（分）には 1～60 の数字を入力してください。");
}

// An error without words of its own is never an empty box.
TEST(Application, ErrorOfAnotherKindIsShownAsAnUnexpectedError) {
  ErrorCapture errors;
  try {
    throw 42;
  } catch (...) {
    EXPECT_TRUE(Application->OnExceptionInMainLoop());
  }
  ASSERT_EQ(errors.messages.size(), 1u);
  EXPECT_EQ(errors.messages[0], L"予期しないエラーが発生しました。");
}

}  // namespace
