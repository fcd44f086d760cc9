#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <thread>
#include <vector>

#include "platform/ui/FieldValidation.h"
#include "platform/ui/FilePickers.h"
#include "platform/ui/OrderedLogBox.h"
#include "tests/platform/ui/GuiTestSupport.h"

namespace ondavox::test {
namespace {

class PlatformUiTest : public testing::Test {
 protected:
  void SetUp() override { EnsureApplication(); }
  MessageRecorder messages_;
};

TEST_F(PlatformUiTest, IntegerFieldsRefuseAnythingButAWholeNumberInFrench) {
  QLineEdit field;
  field.setText(QStringLiteral(" 1550 "));
  EXPECT_EQ(ReadIntegerField(field), 1550);
  EXPECT_TRUE(messages_.messages().empty());
  for (const char* text : {"", "12ab", "99999999999"}) {
    field.setText(QString::fromLatin1(text));
    EXPECT_EQ(ReadIntegerField(field), std::nullopt) << text;
  }
  ASSERT_EQ(messages_.messages().size(), 3u);
  EXPECT_EQ(messages_.messages()[0].text, QStringLiteral("Tapez un nombre entier."));
  EXPECT_EQ(messages_.messages()[0].title, QStringLiteral("Ondavox"));
  EXPECT_EQ(messages_.messages()[0].icon, MessageIcon::kWarning);

  AllowDigitsOnly(field);
  field.clear();
  field.insert(QStringLiteral("12a"));
  EXPECT_EQ(field.text(), QString());  // the validator refuses the whole insertion
  field.insert(QStringLiteral("12"));
  EXPECT_EQ(field.text(), QStringLiteral("12"));
}

TEST_F(PlatformUiTest, LengthLimitNamesTheLimitInFrench) {
  QLineEdit field;
  field.setText(QStringLiteral("230.0.0.1"));
  EXPECT_TRUE(CheckFieldLength(field, 15));
  field.setText(QStringLiteral("230.000.000.0001"));
  EXPECT_FALSE(CheckFieldLength(field, 15));
  EXPECT_EQ(messages_.LastText(), QStringLiteral("Tapez 15 caractères au maximum."));
}

TEST(FilePickers, QuotedFiltersBecomeToolkitFilters) {
  EXPECT_EQ(ToolkitFilter(QStringLiteral("Client Database (*.dat)|*.dat|All Files (*.*)|*.*||")),
            QStringLiteral("Client Database (*.dat);;All Files (*)"));
  EXPECT_EQ(ToolkitFilter(QStringLiteral("All Files (*.*)|*.*||")),
            QStringLiteral("All Files (*)"));
}

TEST_F(PlatformUiTest, LogLinesFromSeveralThreadsKeepTheOrderOfAppend) {
  QPlainTextEdit box;
  OrderedLogBox log;
  log.Append("before the box");
  log.Attach(&box);
  EXPECT_EQ(box.toPlainText(), QStringLiteral("before the box"));

  constexpr int kThreads = 4;
  constexpr int kLines = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&log, t] {
      for (int i = 0; i < kLines; ++i) log.Append(std::to_string(t) + ":" + std::to_string(i));
    });
  }
  for (std::thread& thread : threads) thread.join();
  log.Append("from the window thread");  // drains everything queued before it
  const QStringList lines = box.toPlainText().split(QLatin1Char('\n'));
  ASSERT_EQ(lines.size(), 1 + kThreads * kLines + 1);
  EXPECT_EQ(lines.back(), QStringLiteral("from the window thread"));
  std::vector<int> next(kThreads, 0);
  for (int i = 1; i <= kThreads * kLines; ++i) {
    const QStringList parts = lines[i].split(QLatin1Char(':'));
    ASSERT_EQ(parts.size(), 2) << lines[i].toStdString();
    const int thread = parts[0].toInt();
    EXPECT_EQ(parts[1].toInt(), next[thread]++) << "lines of one thread out of order";
  }

  log.Append("queued");
  log.Clear();
  EXPECT_TRUE(box.toPlainText().isEmpty());
  QCoreApplication::processEvents();
  EXPECT_TRUE(box.toPlainText().isEmpty());
}

}  // namespace
}  // namespace ondavox::test
