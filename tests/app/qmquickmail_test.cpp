#include "app/qmquickmail.h"

#include "app/msgbox.h"
#include "support/fakemailprogram.h"

#include <QAbstractButton>
#include <gtest/gtest.h>
#include <optional>

using namespace app;
using testing_support::TFakeMailProgram;

namespace {

class MailSender : public ::testing::Test {
protected:
  void SetUp() override {
    MessageDlgAnswer = [this](QMessageBox& box) {
      FBoxes << box.text();
      box.button(QMessageBox::Ok)->click();
    };
  }
  void TearDown() override { MessageDlgAnswer = nullptr; }

  QStringList FBoxes;
};

} // namespace

TEST_F(MailSender, ArgumentsInOrder) {
  TFakeMailProgram fake;
  TQmQuickMail mail;
  mail.Subject = QStringLiteral("Zwei Bilder ä");
  mail.TextToSend = {QStringLiteral("Hello"), QStringLiteral("there")};
  mail.ToCCEmail = {QStringLiteral("c1@example.org"), QString(), QStringLiteral("c2@example.org")};
  mail.ToBCCEmail = {QStringLiteral("b@example.org")};
  // Attachments go as their bytes: a name need not be UTF-8.
  mail.FileNames = {"/tmp/one two.jpg", "/tmp/-x.png", "/tmp/caf\xe9.jpg"};
  mail.ToEmail = QStringLiteral("to@example.org");
  EXPECT_TRUE(mail.Send());
  EXPECT_EQ(fake.ArgumentBytes(),
            (std::vector<std::string>{"--utf8", "--subject", "Zwei Bilder \xc3\xa4", "--body", "Hello\nthere", "--cc",
                                      "c1@example.org", "--cc", "c2@example.org", "--bcc", "b@example.org", "--attach",
                                      "/tmp/one two.jpg", "--attach", "/tmp/-x.png", "--attach", "/tmp/caf\xe9.jpg",
                                      "to@example.org"}));
  EXPECT_TRUE(FBoxes.isEmpty());

  TQmQuickMail bare;
  bare.FileNames = {"/tmp/a.jpg"};
  EXPECT_TRUE(bare.Send());
  EXPECT_EQ(fake.Arguments(), (QStringList{"--utf8", "--attach", "/tmp/a.jpg"})) << "empty texts are left out";
}

// Each exit code of xdg-email: the result's event when one is set, else the
// box; never the user-abort event.
TEST_F(MailSender, ExitCodesToResults) {
  struct TCase {
    int Exit;
    bool Sent;
    const char* Box; // without events
    const char* Event;
  };
  const TCase cases[] = {
      {0, true, "", ""},
      {1, false, "Error sending mail (2).", ""},
      {2, false, "Error sending mail (11).", "not found"},
      {3, false, "Error sending mail (-1).", ""},
      {4, false, "Error sending mail (2).", ""},
      {5, false, "Error sending mail (12).", "open failure"},
      {6, false, "Error sending mail (2).", ""},
  };
  TFakeMailProgram fake;
  for (const TCase& c : cases) {
    fake.SetExitCode(c.Exit);
    for (bool events : {false, true}) {
      FBoxes.clear();
      QString event;
      TQmQuickMail mail;
      mail.FileNames = {"/tmp/a.jpg"};
      mail.OnUserAbort = [&](TQmQuickMail*) { event = "abort"; };
      if (events) {
        mail.OnAttachmentNotFound = [&](TQmQuickMail*) { event = "not found"; };
        mail.OnAttachmentOpenFailure = [&](TQmQuickMail*) { event = "open failure"; };
      }
      EXPECT_EQ(mail.Send(), c.Sent) << c.Exit;
      EXPECT_EQ(event, events ? c.Event : "") << c.Exit;
      const bool boxed = *c.Box && !(events && *c.Event);
      EXPECT_EQ(FBoxes, boxed ? QStringList{c.Box} : QStringList{}) << c.Exit << " events " << events;
    }
  }
}

TEST_F(MailSender, MissingMailProgramIsReportedNotTakenForAnAbort) {
  TFakeMailProgram fake;
  fake.Absent();
  TQmQuickMail mail;
  bool aborted = false;
  mail.OnUserAbort = [&](TQmQuickMail*) { aborted = true; };
  mail.SetErrorMessage(QString());
  EXPECT_EQ(mail.ErrorMessage(), "Error sending mail");
  EXPECT_FALSE(mail.Send());
  std::optional<bool> done;
  mail.SendAsync([&](bool sent) { done = sent; });
  ASSERT_TRUE(testing_support::WaitFor([&] { return done.has_value(); }));
  EXPECT_FALSE(*done);
  EXPECT_FALSE(aborted);
  EXPECT_EQ(FBoxes, (QStringList{"Error sending mail (-1).", "Error sending mail (-1)."}));
}

