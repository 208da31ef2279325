#include <gtest/gtest.h>

#include <QFile>
#include <QStorageInfo>

#include "conversion/OpenClose.h"
#include "support/RunFixture.h"

namespace {

using Kind = ScriptedPlatform::Kind;

// CopyData on the two fixture databases, opened as a run opens them.
class TableCopyTest : public RunFixture {
protected:
    void Open() {
        ASSERT_TRUE(MyOpenDB(platform, source, SourceFile(), 0));
        ASSERT_TRUE(MyOpenDB(platform, dest, DestFile(), 0));
    }
    void Copy(const QString& table) {
        if (source.IsEmpty()) {
            Open();
        }
        conversion.CopyData(source, dest, table);
    }
    void Finish() {
        CloseObject(source);
        CloseObject(dest);
    }
    std::vector<Row> Dest(const std::string& sql) {
        Finish();
        return QueryRows(DestFile(), sql);
    }
    std::vector<QString> BoxTexts() const {
        std::vector<QString> texts;
        for (const auto& box : platform.MessageBoxes()) {
            texts.push_back(box.text);
        }
        return texts;
    }

    dao::DatabaseHandle source;
    dao::DatabaseHandle dest;
};

TEST_F(TableCopyTest, ReplacesRowsMatchingColumnsByNameWhateverTheirOrder) {
    Copy(QStringLiteral("product"));
    EXPECT_EQ(form.text, QStringLiteral("product 데이터복사완료\r\n"));
    EXPECT_TRUE(platform.calls.empty());
    const auto rows =
        Dest("SELECT code, name, unit, price, classcode, ptax FROM product ORDER BY code");
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0], (Row{"P001", "볼펜", "자루", "500.5", "", "0"}));
    // Nulls stay null, empty texts stay empty, and columns the source lacks get their defaults.
    EXPECT_EQ(rows[1], (Row{"P002", "공책", "", "1200.0", "", "0"}));
    EXPECT_EQ(rows[2], (Row{"P003", "지우개", std::nullopt, "300.0", "", "0"}));
}

TEST_F(TableCopyTest, MovesTheProgressBarOncePerRowAndResetsItPerTable) {
    Copy(QStringLiteral("product"));
    EXPECT_EQ(form.max, 3.0f);
    EXPECT_EQ(form.value, 3.0f);
    Copy(QStringLiteral("trader"));
    EXPECT_EQ(form.max, 2.0f);
    EXPECT_EQ(form.value, 2.0f);
    EXPECT_EQ(form.maxWrites, 2);
    // Reset to 0 and one increment per row, per table.
    EXPECT_EQ(form.valueWrites, 1 + 3 + 1 + 2);
    Finish();
}

TEST_F(TableCopyTest, AnEmptySourceDeletesNothingAndTouchesNothing) {
    ExecSql(SourceFile(), "DELETE FROM trader;");
    Copy(QStringLiteral("trader"));
    EXPECT_TRUE(form.text.isEmpty());
    EXPECT_TRUE(platform.calls.empty());
    EXPECT_EQ(form.maxWrites + form.valueWrites, 0);
    EXPECT_EQ(Dest("SELECT code FROM trader"), (std::vector<Row>{{"OLDT"}}));
    EXPECT_EQ(ProcessEngine().OpenDatabaseCount(), 0);
}

TEST_F(TableCopyTest, ASourceTableThatCannotBeOpenedIsLoggedAndLeavesTheDestination) {
    ExecSql(SourceFile(), "DROP TABLE trader;");
    Copy(QStringLiteral("trader"));
    EXPECT_EQ(form.text,
              QStringLiteral("파일 교체중 원본열기에서 오류발생 SELECT * FROM trader\r\n"));
    ASSERT_EQ(platform.calls.size(), 2u);
    EXPECT_EQ(platform.calls[0].kind, Kind::Beep);
    EXPECT_EQ(platform.calls[1].title, QStringLiteral("Query"));
    EXPECT_EQ(Dest("SELECT code FROM trader"), (std::vector<Row>{{"OLDT"}}));
}

TEST_F(TableCopyTest, ADestinationThatCannotBeOpenedIsLoggedBeforeAnythingIsDeleted) {
    ExecSql(DestFile(), "DROP TABLE trader;");
    Copy(QStringLiteral("trader"));
    EXPECT_EQ(form.text,
              QStringLiteral("파일 교체중 대상열기에서 오류발생 SELECT * FROM trader\r\n"));
    ASSERT_EQ(platform.calls.size(), 2u);
    EXPECT_EQ(platform.calls[1].title, QStringLiteral("Query"));
    Finish();
}

TEST_F(TableCopyTest, AFailingDeleteShowsItsErrorAndAppendsNothing) {
    ExecSql(DestFile(),
            "CREATE TRIGGER keep BEFORE DELETE ON trader "
            "BEGIN SELECT RAISE(ABORT, 'rows are kept'); END;");
    Copy(QStringLiteral("trader"));
    const auto texts = BoxTexts();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_TRUE(texts[0].startsWith(QStringLiteral("Error ")));
    EXPECT_TRUE(texts[0].endsWith(QStringLiteral(") in procedure CopyData of Form Form1")));
    const QString error = texts[0].left(texts[0].indexOf(QStringLiteral(" in procedure")));
    EXPECT_EQ(form.text,
              QStringLiteral("trader 복사 안 함: 대상 테이블의 기존 자료를 지우지 못했습니다: "
                             "%1. 대상 테이블에 아무 행도 넣지 않았습니다.\r\n"
                             "trader 데이터복사 중 오류: 2건 중 0건 복사, 2건 실패\r\n")
                  .arg(error));
    EXPECT_TRUE(conversion.LastRunHadErrors());
    EXPECT_EQ(Dest("SELECT code FROM trader ORDER BY code"), (std::vector<Row>{{"OLDT"}}));
}

TEST_F(TableCopyTest, ADeleteThatATriggerIgnoresAppendsNothing) {
    ExecSql(DestFile(),
            "CREATE TRIGGER keep BEFORE DELETE ON trader WHEN old.code = 'OLDT' "
            "BEGIN SELECT RAISE(IGNORE); END;");
    Copy(QStringLiteral("trader"));
    EXPECT_TRUE(platform.calls.empty());
    EXPECT_EQ(form.text,
              QStringLiteral("trader 복사 안 함: 대상 테이블의 기존 자료를 지웠지만 1건이 남아 "
                             "있습니다. 대상 테이블에 아무 행도 넣지 않았습니다.\r\n"
                             "trader 데이터복사 중 오류: 2건 중 0건 복사, 2건 실패\r\n"));
    EXPECT_TRUE(conversion.LastRunHadErrors());
    EXPECT_EQ(Dest("SELECT code FROM trader ORDER BY code"), (std::vector<Row>{{"OLDT"}}));
}

TEST_F(TableCopyTest, TooLittleFreeSpaceRefusesTheCopyBeforeTheDeleteAndSaysBothNumbers) {
    // A source file larger than the free space (sparse, so that it takes no room itself).
    const qint64 available = QStorageInfo(DestFolder()).bytesAvailable();
    ASSERT_GT(available, 0);
    const qint64 size = available + (qint64{1} << 30);
    ASSERT_TRUE(QFile::resize(SourceFile(), size));
    Copy(QStringLiteral("trader"));
    const auto texts = BoxTexts();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_TRUE(
        texts[0].startsWith(QStringLiteral("'trader' 자료를 복사하지 않았습니다.\r\n"
                                           "대상 데이터베이스가 있는 디스크의 빈 공간이 "
                                           "부족합니다: 남은 공간 ")))
        << texts[0].toStdString();
    EXPECT_TRUE(texts[0].contains(QStringLiteral("바이트, 필요한 공간 %1바이트").arg(size)))
        << texts[0].toStdString();
    EXPECT_TRUE(form.text.startsWith(
        QStringLiteral("trader 복사 안 함: 디스크의 빈 공간이 부족합니다 (남은 공간 ")))
        << form.text.toStdString();
    EXPECT_TRUE(
        form.text.endsWith(QStringLiteral("trader 데이터복사 중 오류: 2건 중 0건 복사, "
                                          "2건 실패\r\n")));
    EXPECT_TRUE(conversion.LastRunHadErrors());
    EXPECT_EQ(Dest("SELECT code FROM trader"), (std::vector<Row>{{"OLDT"}}));
}

// The first source row is tried in the destination before the delete: refused for what the
// table is, the copy ends with the destination's rows in place.
class FirstRowProbeTest : public TableCopyTest {
protected:
    void ExpectRefusedBeforeTheDelete() {
        Copy(QStringLiteral("trader"));
        const auto texts = BoxTexts();
        ASSERT_EQ(texts.size(), 1u);
        EXPECT_TRUE(texts[0].startsWith(QStringLiteral(
            "'trader' 자료를 복사하지 않았습니다.\r\n원본의 첫 행을 대상 테이블에 시험으로 넣어 "
            "보았지만, 행의 값과 관계없는 이유로 거절되었습니다: Error ")))
            << texts[0].toStdString();
        EXPECT_TRUE(form.text.startsWith(
            QStringLiteral("trader 복사 안 함: 원본의 첫 행을 대상 테이블에 넣을 수 없습니다: "
                           "Error ")))
            << form.text.toStdString();
        EXPECT_TRUE(form.text.endsWith(
            QStringLiteral("trader 데이터복사 중 오류: 2건 중 0건 복사, 2건 실패\r\n")));
        EXPECT_TRUE(conversion.LastRunHadErrors());
        EXPECT_EQ(Dest("SELECT code FROM trader"), (std::vector<Row>{{"OLDT"}}));
    }
};

TEST_F(FirstRowProbeTest, ARequiredColumnTheSourceLacks) {
    ExecSql(DestFile(),
            "DROP TABLE trader; CREATE TABLE trader(U_Name TEXT, code TEXT PRIMARY KEY, "
            "name TEXT, HPhone TEXT, extra TEXT NOT NULL);"
            "INSERT INTO trader VALUES ('박민수', 'OLDT', '옛', NULL, 'x');");
    ExpectRefusedBeforeTheDelete();
}

TEST_F(FirstRowProbeTest, AColumnThatCannotBeWritten) {
    ExecSql(DestFile(),
            "DROP TABLE trader; CREATE TABLE trader(U_Name TEXT, code TEXT PRIMARY KEY, "
            "name TEXT, HPhone TEXT GENERATED ALWAYS AS (code || '-0000'));"
            "INSERT INTO trader(U_Name, code, name) VALUES ('박민수', 'OLDT', '옛');");
    ExpectRefusedBeforeTheDelete();
}

TEST_F(TableCopyTest, AFirstRowRefusedForItsValuesFailsThatRowOnly) {
    ExecSql(DestFile(),
            "DROP TABLE trader; CREATE TABLE trader(U_Name TEXT, code TEXT PRIMARY KEY "
            "CHECK (code <> 'T001'), name TEXT, HPhone TEXT);"
            "INSERT INTO trader(U_Name, code, name) VALUES ('박민수', 'OLDT', '옛');");
    Copy(QStringLiteral("trader"));
    const auto texts = BoxTexts();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_TRUE(texts[0].startsWith(QStringLiteral("Error 3317 ("))) << texts[0].toStdString();
    EXPECT_TRUE(form.text.contains(QStringLiteral("2건 중 1건 복사, 1건 실패")))
        << form.text.toStdString();
    EXPECT_EQ(Dest("SELECT code FROM trader"), (std::vector<Row>{{"T002"}}));
}

TEST_F(TableCopyTest, AMissingDestinationColumnStopsTheCopyBeforeTheDelete) {
    ExecSql(SourceFile(),
            "ALTER TABLE trader ADD COLUMN fax TEXT; ALTER TABLE trader ADD COLUMN Memo TEXT;");
    Copy(QStringLiteral("trader"));
    const auto texts = BoxTexts();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_TRUE(texts[0].contains(QStringLiteral("'trader'")));
    EXPECT_TRUE(texts[0].contains(QStringLiteral("fax, Memo")));
    EXPECT_EQ(form.text, QStringLiteral("trader 복사 안 함: 대상에 없는 열 fax, Memo\r\n"));
    EXPECT_TRUE(conversion.LastRunHadErrors());
    EXPECT_EQ(Dest("SELECT code FROM trader"), (std::vector<Row>{{"OLDT"}}));
}

TEST_F(TableCopyTest, ColumnNamesMatchWithoutRegardToLetterCase) {
    ExecSql(DestFile(),
            "DROP TABLE trader; CREATE TABLE trader(CODE TEXT, Name TEXT, HPHONE TEXT, "
            "U_NAME TEXT, extra TEXT DEFAULT 'x');");
    Copy(QStringLiteral("trader"));
    EXPECT_EQ(form.text, QStringLiteral("trader 데이터복사완료\r\n"));
    EXPECT_EQ(Dest("SELECT CODE, HPHONE, extra FROM trader ORDER BY CODE"),
              (std::vector<Row>{{"T001", "010-1234-5678", "x"}, {"T002", std::nullopt, "x"}}));
}

TEST_F(TableCopyTest, DuplicateKeysInTheSourceFailThoseRowsOnlyAndSayHowMany) {
    ExecSql(SourceFile(),
            "INSERT INTO trader VALUES ('T001', '중복1', NULL, 'a'), "
            "('T002', '중복2', NULL, 'b'), ('T001', '중복3', NULL, 'c'), "
            "('T009', '새 거래처', NULL, 'd');");
    Copy(QStringLiteral("trader"));
    // One box for the first occurrence; the other two are counted in the log.
    const auto texts = BoxTexts();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_TRUE(texts[0].startsWith(QStringLiteral("Error 3022 (")));
    EXPECT_TRUE(form.text.contains(QStringLiteral("같은 오류 3건")));
    EXPECT_TRUE(form.text.endsWith(
        QStringLiteral("trader 데이터복사 중 오류: 6건 중 3건 복사, 3건 실패 (첫 오류: ") +
        texts[0].left(texts[0].indexOf(QStringLiteral(" in procedure"))) + QStringLiteral(")\r\n")))
        << form.text.toStdString();
    EXPECT_FALSE(form.text.contains(QStringLiteral("데이터복사완료")));
    EXPECT_EQ(form.value, 6.0f);
    EXPECT_EQ(
        Dest("SELECT code, name FROM trader ORDER BY code"),
        (std::vector<Row>{{"T001", "(주)한빛상사"}, {"T002", "대성문구"}, {"T009", "새 거래처"}}));
}

TEST_F(TableCopyTest, AValueRefusedByEveryRowShowsOneBoxAndNoPhantomErrors) {
    ExecSql(DestFile(),
            "DROP TABLE trader; CREATE TABLE trader(code TEXT, name TEXT, "
            "hphone TEXT NOT NULL, u_name TEXT);");
    ExecSql(SourceFile(), "UPDATE trader SET hphone = NULL;");
    Copy(QStringLiteral("trader"));
    const auto boxes = platform.MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].text.startsWith(QStringLiteral("Error 3314 (")));
    EXPECT_FALSE(boxes[0].title.has_value());
    EXPECT_TRUE(form.text.contains(QStringLiteral("2건 중 0건 복사, 2건 실패")));
    EXPECT_TRUE(Dest("SELECT * FROM trader").empty());
}

std::string Str(const QString& text) {
    return text.toStdString();
}

// The number of the error that `write` raises, or 0.
template <class Write>
int32_t Refused(Write&& write) {
    try {
        write();
    } catch (const dao::Error& e) {
        return e.Number();
    }
    return 0;
}

TEST_F(TableCopyTest, AStrictColumnRefusesAValueOfAnotherTypeWhenItIsWritten) {
    ExecSql(DestFile(),
            "DROP TABLE trader; CREATE TABLE Trader(code TEXT PRIMARY KEY, n INT, r REAL, "
            "photo BLOB, note ANY) STRICT;");
    Open();
    dao::RecordsetHandle rs(
        dest->OpenRecordset(QStringLiteral("SELECT * FROM trader"), dao::dbOpenDynaset));
    rs->AddNew();
    const auto write = [&](int16_t column, const dao::Value& v) {
        return Refused([&] { rs->SetFieldValue(column, v); });
    };
    const dao::Value text = dao::Value::Text(QStringLiteral("문의"));
    const dao::Value blob = dao::Value::Blob(std::string("\x00\x01", 2));

    try {
        rs->SetFieldValue(1, text);
        ADD_FAILURE() << "a text was written into an INT column";
    } catch (const dao::Error& e) {
        EXPECT_EQ(e.Number(), dao::errDataTypeConversion);
        EXPECT_EQ(e.Description(),
                  QStringLiteral("'trader.n' 열은 INTEGER 형식이라 TEXT 값을 저장할 수 없습니다."));
    }
    // The refused value is not written and the row stays pending.
    EXPECT_EQ(rs->EditMode(), dao::dbEditAdd);
    EXPECT_TRUE(rs->FieldValue(1).isNull());

    EXPECT_EQ(write(1, dao::Value(2.5)), dao::errDataTypeConversion);
    EXPECT_EQ(write(1, blob), dao::errDataTypeConversion);
    EXPECT_EQ(write(2, text), dao::errDataTypeConversion);
    EXPECT_EQ(write(3, dao::Value(int64_t{7})), dao::errDataTypeConversion);
    EXPECT_EQ(write(3, text), dao::errDataTypeConversion);
    EXPECT_EQ(write(0, blob), dao::errDataTypeConversion);
    // What each type takes, converted as SQLite converts it; a number in a text is left to the
    // save, which converts it.
    EXPECT_EQ(write(1, dao::Value(3.0)), 0);
    EXPECT_EQ(write(2, dao::Value(int64_t{4})), 0);
    EXPECT_EQ(write(2, dao::Value::Text(QStringLiteral(" -1.5e3 "))), 0);
    EXPECT_EQ(write(3, blob), 0);
    EXPECT_EQ(write(4, blob), 0);
    EXPECT_EQ(write(0, dao::Value(int64_t{9})), 0);
    EXPECT_EQ(write(1, dao::Value()), 0);
    rs->Update();
    CloseObject(rs);
    EXPECT_EQ(Dest("SELECT code, typeof(code), n, r, typeof(r), hex(photo), hex(note) FROM trader"),
              (std::vector<Row>{{"9", "text", std::nullopt, "-1500.0", "real", "0001", "0001"}}));
}

TEST_F(TableCopyTest, AnErrorTextWithPercentSignsIsQuotedLetterForLetter) {
    // A rule whose text holds "%0" and "%1": no placeholder may take the count or the error.
    ExecSql(DestFile(),
            "CREATE TRIGGER rule BEFORE INSERT ON trader WHEN new.code IN ('T003', 'T004') "
            "BEGIN SELECT RAISE(ABORT, 'code LIKE ''%0'' or ''%1'''); END;");
    ExecSql(SourceFile(),
            "INSERT INTO trader VALUES ('T003', '한솔', '0212345678', '정'), "
            "('T004', '미래', NULL, '강');");
    Copy(QStringLiteral("trader"));

    const auto texts = BoxTexts();
    ASSERT_EQ(texts.size(), 1u);
    const QString error = texts[0].left(texts[0].indexOf(QStringLiteral(" in procedure")));
    ASSERT_TRUE(error.contains(QStringLiteral("code LIKE '%0' or '%1'"))) << Str(error);
    EXPECT_EQ(
        Str(form.text),
        Str(QStringLiteral("trader ") + error +
            QStringLiteral(": 같은 오류 2건 (메시지는 처음 한 번만 표시)\r\n"
                           "trader 데이터복사 중 오류: 4건 중 2건 복사, 2건 실패 (첫 오류: ") +
            error + QStringLiteral(")\r\n")));
}

TEST_F(TableCopyTest, AFieldWriteThatFailsGivesTheRowUpOnce) {
    // The third of the source's columns is refused for two rows: the write fails, the row is
    // cancelled, and its fourth column and its save are skipped rather than each failing with
    // no row pending.
    ExecSql(DestFile(),
            "DROP TABLE trader; CREATE TABLE trader(U_Name TEXT NOT NULL, code TEXT PRIMARY KEY, "
            "name TEXT, hphone INTEGER) STRICT;");
    ExecSql(SourceFile(),
            "INSERT INTO trader VALUES ('T003', '한솔', '0212345678', '정'), "
            "('T004', '미래', '문의 바람', '강'), ('T005', '새 거래처', NULL, '윤');");
    Copy(QStringLiteral("trader"));

    const auto texts = BoxTexts();
    ASSERT_EQ(texts.size(), 1u);
    const QString error = QStringLiteral(
        "Error 3421 ('trader.hphone' 열은 INTEGER 형식이라 TEXT 값을 저장할 수 "
        "없습니다.)");
    EXPECT_EQ(Str(texts[0]), Str(error + QStringLiteral(" in procedure CopyData of Form Form1")));
    EXPECT_EQ(Str(form.text),
              Str(QStringLiteral("trader %1: 같은 오류 2건 (메시지는 처음 한 번만 표시)\r\n"
                                 "trader 데이터복사 중 오류: 5건 중 3건 복사, 2건 실패 (첫 오류: "
                                 "%1)\r\n")
                      .arg(error)));
    EXPECT_EQ(form.value, 5.0f);
    EXPECT_EQ(Dest("SELECT code, name, hphone, U_Name FROM trader ORDER BY code"),
              (std::vector<Row>{{"T002", "대성문구", std::nullopt, "이영희"},
                                {"T003", "한솔", "212345678", "정"},
                                {"T005", "새 거래처", std::nullopt, "윤"}}));
}

}  // namespace
