#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QStringList>

#ifdef Q_OS_WIN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

#include "conversion/RunFolder.h"
#include "support/RunFixture.h"

namespace {

using Kind = ScriptedPlatform::Kind;

const QString kStartLines = QStringLiteral("\r\n작업 시작\r\n\r\n");
const QString kRule = QString(40, QLatin1Char('-'));
const QString kConfirm = QStringLiteral(
    "※작업전 데이터를 꼭 백업하세요!\r\n\r\nDorvik 또는 SolvanePlus 프로그램이 열려 있을 경우 "
    "닫고 시작하세요.\r\n시작 하시겠습니까?");

class StartCommandTest : public RunFixture {
protected:
    void SetUp() override {
        RunFixture::SetUp();
        sourceBefore = FileBytes(SourceFile());
        destBefore = FileBytes(DestFile());
        form.text = QStringLiteral("이전 기록\r\n");
    }
    void ExpectFilesUntouched() {
        EXPECT_EQ(FileBytes(SourceFile()), sourceBefore);
        EXPECT_EQ(FileBytes(DestFile()), destBefore);
        EXPECT_EQ(ProcessEngine().OpenDatabaseCount(), 0);
    }
    std::vector<QString> BoxTexts() const {
        std::vector<QString> texts;
        for (const auto& box : platform.MessageBoxes()) {
            texts.push_back(box.text);
        }
        return texts;
    }

    QByteArray sourceBefore;
    QByteArray destBefore;
};

TEST_F(StartCommandTest, NothingSelectedAsksForASelectionAndNoPassword) {
    conversion.Command1_Click();
    ASSERT_EQ(platform.calls.size(), 1u);
    EXPECT_EQ(platform.calls[0].kind, Kind::MsgBox);
    EXPECT_EQ(platform.calls[0].text,
              QStringLiteral("상품복사나 거래처복사중 하나 이상을 선택하세요."));
    EXPECT_EQ(platform.calls[0].flags, vbOKOnly);
    EXPECT_FALSE(platform.calls[0].title.has_value());
    EXPECT_EQ(form.text, QStringLiteral("이전 기록\r\n"));
    ExpectFilesUntouched();
}

TEST_F(StartCommandTest, AnythingButTheExactPasswordIsRefused) {
    form.check = {1, 1};
    for (const QString& typed : {QString(), QStringLiteral("KOLUM482"), QStringLiteral(" kolum482"),
                                 QStringLiteral("kolum482 "), QStringLiteral("kolum48")}) {
        platform.calls.clear();
        platform.inputAnswers = {typed};
        conversion.Command1_Click();
        ASSERT_EQ(platform.calls.size(), 2u) << typed.toStdString();
        EXPECT_EQ(platform.calls[0].kind, Kind::InputBox);
        EXPECT_EQ(platform.calls[0].text,
                  QStringLiteral("실행 암호를 입력하세요. 문의: 02-0000-0000"));
        EXPECT_TRUE(platform.calls[0].hideInput);
        EXPECT_EQ(platform.calls[1].text, QStringLiteral("암호가 틀립니다."));
        EXPECT_EQ(platform.calls[1].flags, vbOKOnly);
        EXPECT_FALSE(platform.calls[1].title.has_value());
    }
    EXPECT_EQ(form.text, QStringLiteral("이전 기록\r\n"));
    ExpectFilesUntouched();
}

TEST_F(StartCommandTest, NoAtTheConfirmationEndsSilentlyAndEnterMeansNo) {
    form.check = {1, 0};
    platform.inputAnswers = {QStringLiteral("kolum482")};
    conversion.Command1_Click();  // no answer queued: the default button, No
    ASSERT_EQ(platform.calls.size(), 2u);
    EXPECT_EQ(platform.calls[1].text, kConfirm);
    EXPECT_EQ(platform.calls[1].flags, 292);
    EXPECT_FALSE(platform.calls[1].title.has_value());
    EXPECT_EQ(form.text, QStringLiteral("이전 기록\r\n"));
    EXPECT_TRUE(conversion.SourceDbPath.isEmpty());
    ExpectFilesUntouched();
}

TEST_F(StartCommandTest, ASourceThatCannotBeOpenedEndsAfterTheStartLines) {
    form.check = {1, 1};
    SetFolders(tmp.File(QStringLiteral("없는폴더")), DestFolder());
    AnswerYes();
    conversion.Command1_Click();
    const auto texts = BoxTexts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_TRUE(texts[1].startsWith(QStringLiteral("3024 "))) << texts[1].toStdString();
    // The log ends with the cause the box showed.
    EXPECT_EQ(form.text, kStartLines +
                             QStringLiteral("작업 안 함: 데이터베이스 열기 실패: Error 3024 (") +
                             texts[1].mid(5) + QStringLiteral(")\r\n"));
    ExpectFilesUntouched();
}

TEST_F(StartCommandTest, ADestinationThatCannotBeOpenedRunsNoRecipeAndClosesTheSource) {
    form.check = {1, 1};
    SetFolders(SourceFolder(), tmp.File(QStringLiteral("없는폴더")));
    AnswerYes();
    conversion.Command1_Click();
    const auto texts = BoxTexts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_TRUE(texts[1].startsWith(QStringLiteral("3024 ")));
    // The log ends with the cause the box showed.
    EXPECT_EQ(form.text, kStartLines +
                             QStringLiteral("작업 안 함: 데이터베이스 열기 실패: Error 3024 (") +
                             texts[1].mid(5) + QStringLiteral(")\r\n"));
    // The product recipe's first statement would have changed the source.
    ExpectFilesUntouched();
}

TEST_F(StartCommandTest, ACompleteRunLogsCopiesBetweenTheOpeningAndClosingLines) {
    form.check = {1, 1};
    AnswerYes();
    conversion.Command1_Click();
    EXPECT_EQ(form.text, StartedLines() + QStringLiteral("product 데이터복사완료\r\n") +
                             QStringLiteral("trader 데이터복사완료\r\n") + kRule +
                             QStringLiteral("\r\n자료 교체 완료\r\n") + kRule +
                             QStringLiteral("\r\n"));
    const auto texts = BoxTexts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[1], QStringLiteral("자료 교체가 완료 되었습니다."));
    EXPECT_EQ(platform.MessageBoxes()[1].flags, vbOKOnly);
    EXPECT_EQ(conversion.SourceDbPath, SourceFolder());
    EXPECT_EQ(conversion.DestDbPath, DestFolder());
    EXPECT_EQ(ProcessEngine().OpenDatabaseCount(), 0);
    EXPECT_FALSE(conversion.LastRunHadErrors());
}

TEST_F(StartCommandTest, ACheckValueOtherThanOnePassesTheGuardButRunsNoRecipe) {
    form.check = {2, 0};
    AnswerYes();
    conversion.Command1_Click();
    EXPECT_EQ(form.text, StartedLines() + kRule + QStringLiteral("\r\n자료 교체 완료\r\n") + kRule +
                             QStringLiteral("\r\n"));
    EXPECT_EQ(QueryValue(DestFile(), "SELECT count(*) FROM product"), "1");
    EXPECT_EQ(QueryValue(SourceFile(), "SELECT count(*) FROM product WHERE unit = ''"), "1");
}

TEST_F(StartCommandTest, AnUnsetFolderIsNamedAndNothingIsOpened) {
    form.check = {1, 1};
    struct Case {
        QString source, dest, product;
    };
    for (const Case& c :
         {Case{QString(), DestFolder(), QStringLiteral("Dorvik")},
          Case{SourceFolder(), QStringLiteral("  "), QStringLiteral("SolvanePlus")}}) {
        platform.calls.clear();
        SetFolders(c.source, c.dest);
        AnswerYes();
        conversion.Command1_Click();
        const auto texts = BoxTexts();
        ASSERT_EQ(texts.size(), 2u);
        EXPECT_TRUE(texts[1].startsWith(c.product + QStringLiteral("의 데이터베이스 폴더가 "
                                                                   "설정되어 있지 않습니다.")))
            << texts[1].toStdString();
    }
    EXPECT_EQ(form.text, QStringLiteral("이전 기록\r\n"));
    ExpectFilesUntouched();
}

TEST_F(StartCommandTest, AStoreThatCannotBeReadOrAValueThatIsNoTextIsNotCalledUnset) {
    form.check = {1, 1};
    using Status = SettingRead::Status;
    struct Case {
        QString app;
        Status status;
        QString expected;
    };
    const QString store = tmp.File(QStringLiteral("설정.conf"));
    for (const Case& c : {
             Case{QStringLiteral("세금계산서"), Status::Unreadable,
                  QStringLiteral("Dorvik의 설정 파일을 읽을 수 없습니다.\r\n") + store +
                      QStringLiteral("\r\n설정 파일이 손상되었거나 읽을 권한이 없습니다. "
                                     "파일을 확인한 뒤 다시 시작하세요.")},
             Case{QStringLiteral("Solvane2"), Status::Unreadable,
                  QStringLiteral("SolvanePlus의 설정 파일을 읽을 수 없습니다.\r\n") + store +
                      QStringLiteral("\r\n설정 파일이 손상되었거나 읽을 권한이 없습니다. "
                                     "파일을 확인한 뒤 다시 시작하세요.")},
             Case{QStringLiteral("Solvane2"), Status::NotText,
                  QStringLiteral("SolvanePlus의 데이터베이스 폴더 설정이 폴더 이름이 "
                                 "아닙니다.\r\n") +
                      store +
                      QStringLiteral("\r\n설정 파일의 db경로 값을 확인한 뒤 다시 시작하세요.")},
         }) {
        platform.calls.clear();
        platform.settingReads.clear();
        platform.settingReads[{c.app, QStringLiteral("환경설정"), QStringLiteral("db경로")}] = {
            c.status, QString(), store};
        AnswerYes();
        conversion.Command1_Click();
        const auto texts = BoxTexts();
        ASSERT_EQ(texts.size(), 2u);
        EXPECT_EQ(texts[1], c.expected);
        EXPECT_FALSE(texts[1].contains(QStringLiteral("설치하고")));
    }
    EXPECT_EQ(form.text, QStringLiteral("이전 기록\r\n"));
    ExpectFilesUntouched();
}

TEST_F(StartCommandTest, TheSameFileUnderTwoNamesIsRefusedBeforeAnythingOpens) {
    form.check = {1, 1};
    QStringList names = {SourceFolder(), SourceFolder() + QStringLiteral("/../Dorvik"),
                         SourceFolder() + QStringLiteral("/")};
    const QString link = tmp.File(QStringLiteral("링크"));
#ifdef Q_OS_WIN
    // Windows folds letter case; a hard link is the same file in another folder (QFile::link
    // makes a shortcut file there, which the file system does not follow).
    names.append(SourceFolder().toUpper());
    names.append(QDir::toNativeSeparators(SourceFolder()));
    ASSERT_TRUE(QDir().mkpath(link));
    ASSERT_TRUE(CreateHardLinkW(
        reinterpret_cast<LPCWSTR>(
            QDir::toNativeSeparators(link + QStringLiteral("/dbbasic.mdb")).utf16()),
        reinterpret_cast<LPCWSTR>(QDir::toNativeSeparators(SourceFile()).utf16()), nullptr));
#else
    ASSERT_TRUE(QFile::link(SourceFolder(), link));
#endif
    names.append(link);
    for (const QString& dest : names) {
        platform.calls.clear();
        SetFolders(SourceFolder(), dest);
        AnswerYes();
        conversion.Command1_Click();
        const auto texts = BoxTexts();
        ASSERT_EQ(texts.size(), 2u) << dest.toStdString();
        EXPECT_TRUE(texts[1].startsWith(
            QStringLiteral("Dorvik과 SolvanePlus의 데이터베이스가 같은 파일입니다.")))
            << texts[1].toStdString();
    }
    ExpectFilesUntouched();
}

TEST_F(StartCommandTest, AStatementThatCannotRunStopsTheRunAndClosesBoth) {
    // A view reads like the table, so the run gets as far as the statement that writes it.
    ExecSql(DestFile(),
            "DROP TABLE pclass; "
            "CREATE VIEW pclass AS SELECT '1' AS Code, '분류' AS ClassName, 1 AS Used;");
    form.check = {1, 1};
    AnswerYes();
    conversion.Command1_Click();

    const auto texts = BoxTexts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_TRUE(texts[1].startsWith(QStringLiteral("Error 3146 ("))) << texts[1].toStdString();
    EXPECT_TRUE(texts[1].contains(QStringLiteral("pclass"))) << texts[1].toStdString();
    EXPECT_TRUE(texts[1].contains(QStringLiteral("오류로 작업을 중단했습니다")));
    EXPECT_TRUE(
        form.text.startsWith(StartedLines() + QStringLiteral("product 데이터복사완료\r\n")));
    EXPECT_TRUE(form.text.endsWith(QStringLiteral("\r\n")));
    EXPECT_TRUE(form.text.contains(QStringLiteral("오류로 작업 중단: Error 3146")));
    EXPECT_FALSE(form.text.contains(QStringLiteral("자료 교체 완료")));
    // The copy before it met no error; the stop alone makes it a run with errors.
    EXPECT_TRUE(conversion.LastRunHadErrors());
    EXPECT_FALSE(form.text.contains(QStringLiteral("trader")));
    EXPECT_EQ(ProcessEngine().OpenDatabaseCount(), 0);
    // What ran before the failing statement stays done.
    EXPECT_EQ(QueryValue(DestFile(), "SELECT count(*) FROM product"), "3");
    // The box names the run folder, whose report ends with the stop and the failing statement.
    EXPECT_TRUE(texts[1].endsWith(RunFolderLines())) << texts[1].toStdString();
    const std::optional<QString> outcome = ReadReportOutcome(conversion.LastRunFolder());
    ASSERT_TRUE(outcome.has_value());
    EXPECT_TRUE(outcome->startsWith(QStringLiteral("중단: Error 3146 (")))
        << outcome->toStdString();
    QFile report(QDir(conversion.LastRunFolder()).filePath(QStringLiteral("report.txt")));
    ASSERT_TRUE(report.open(QIODevice::ReadOnly));
    const QString reported = QString::fromUtf8(report.readAll());
    EXPECT_TRUE(
        reported.contains(QStringLiteral("SolvanePlus: insert into pclass"), Qt::CaseInsensitive))
        << reported.toStdString();
    EXPECT_TRUE(reported.contains(QStringLiteral("    실패, ")));
    // What served each file, before the backup's lines.
    EXPECT_TRUE(
        reported.contains(QStringLiteral("[파일 형식과 드라이버]\nDorvik:\n  형식: SQLite 3\n"
                                         "  드라이버: SQLite C API ")))
        << reported.toStdString();
    EXPECT_TRUE(reported.contains(QStringLiteral("SolvanePlus:\n  형식: SQLite 3\n")));
    EXPECT_LT(reported.indexOf(QStringLiteral("[파일 형식과 드라이버]")),
              reported.indexOf(QStringLiteral("[백업]")));
}

TEST_F(StartCommandTest, CopyFailuresTurnTheClosingLinesIntoAWarning) {
    ExecSql(SourceFile(), "INSERT INTO trader VALUES ('T001', '중복', NULL, '최');");
    form.check = {0, 1};
    AnswerYes();
    conversion.Command1_Click();
    EXPECT_TRUE(conversion.LastRunHadErrors());
    EXPECT_TRUE(form.text.contains(QStringLiteral("자료 교체 완료 (오류 있음")));
    EXPECT_FALSE(form.text.contains(QStringLiteral("trader 데이터복사완료")));
    const auto texts = BoxTexts();
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_TRUE(texts[1].startsWith(QStringLiteral("Error 3022 (")));
    EXPECT_EQ(texts[2], QStringLiteral("자료 교체가 끝났지만 오류가 있었습니다.\r\n작업 기록을 "
                                       "확인하세요.") +
                            RunFolderLines());
}

// A destination whose insert trigger adds a row of its own for each row copied: the copy itself
// meets no error, but the table ends with more rows than the log says were copied. Once the
// trigger is gone, the next run ends without errors.
TEST_F(StartCommandTest, ATableWithMoreRowsThanCopiedEndsTheRunWithErrors) {
    ExecSql(DestFile(),
            "CREATE TRIGGER twin AFTER INSERT ON trader WHEN new.code NOT LIKE 'X%' BEGIN "
            "INSERT INTO trader(U_Name, code, name) VALUES (new.U_Name, 'X' || new.code, "
            "new.name); END;");
    form.check = {0, 1};
    AnswerYes();
    conversion.Command1_Click();

    EXPECT_EQ(QueryValue(DestFile(), "SELECT count(*) FROM trader"), "4");
    EXPECT_TRUE(conversion.LastRunHadErrors());
    EXPECT_EQ(form.text, StartedLines() + QStringLiteral("trader 데이터복사완료\r\n") + kRule +
                             QStringLiteral("\r\n자료 교체 완료 (오류 있음: 작업 기록을 "
                                            "확인하세요)\r\n") +
                             kRule + QStringLiteral("\r\n"));
    const auto texts = BoxTexts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[1], QStringLiteral("자료 교체가 끝났지만 오류가 있었습니다.\r\n작업 기록을 "
                                       "확인하세요.") +
                            RunFolderLines());
    QFile report(QDir(conversion.LastRunFolder()).filePath(kReportName));
    ASSERT_TRUE(report.open(QIODevice::ReadOnly));
    const QString reported = QString::fromUtf8(report.readAll());
    EXPECT_TRUE(reported.contains(
        QStringLiteral(" trader 복사: 원본 2건, 대상 이전 1건, 복사 2건, 실패 0건, 대상 이후 4건, "
                       "이후=복사: 아니요\n")))
        << reported.toStdString();
    EXPECT_EQ(ReadReportOutcome(conversion.LastRunFolder()), QStringLiteral("완료 (오류 있음)"));

    ExecSql(DestFile(), "DROP TRIGGER twin;");
    platform.calls.clear();
    AnswerYes();
    conversion.Command1_Click();
    EXPECT_FALSE(conversion.LastRunHadErrors());
    ASSERT_EQ(BoxTexts().size(), 2u);
    EXPECT_EQ(BoxTexts()[1], QStringLiteral("자료 교체가 완료 되었습니다."));
}

// A destination that stores the first row otherwise than it was written (here a trigger rewrites
// the name, as a driver converting text would): the table is refused before its rows are deleted,
// and the message names the column and both values.
TEST_F(StartCommandTest, AFirstRowStoredOtherwiseRefusesTheTableBeforeTheDelete) {
    ExecSql(DestFile(),
            "CREATE TRIGGER garble AFTER INSERT ON trader BEGIN "
            "UPDATE trader SET name = 'XX' WHERE rowid = new.rowid; END;");
    const std::string before =
        QueryValue(DestFile(), "SELECT group_concat(code || '=' || name) FROM trader");
    form.check = {0, 1};
    AnswerYes();
    conversion.Command1_Click();
    EXPECT_TRUE(conversion.LastRunHadErrors());
    EXPECT_EQ(QueryValue(DestFile(), "SELECT group_concat(code || '=' || name) FROM trader"),
              before);
    QString boxes;
    for (const QString& text : BoxTexts()) {
        boxes += text + QLatin1Char('\n');
    }
    EXPECT_TRUE(boxes.contains(QStringLiteral("Error 4001"))) << boxes.toStdString();
    EXPECT_TRUE(boxes.contains(QStringLiteral("'name' 열"))) << boxes.toStdString();
    EXPECT_TRUE(boxes.contains(QStringLiteral("읽은 값: 'XX'"))) << boxes.toStdString();
    EXPECT_EQ(ProcessEngine().OpenDatabaseCount(), 0);
}

}  // namespace
