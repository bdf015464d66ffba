#include "core/accounts/user_accounts.h"
#include "core/reports/database.h"
#include "core/reports/report_file.h"
#include "demo/demo_data.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace ufd;
using reports::DataStore;

namespace {

class DataStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        ASSERT_TRUE(store_.open(dir_.path())) << store_.lastError().toStdString();
    }

    QStringList columnsOf(const QSqlDatabase& db, const QString& table) {
        QStringList names;
        const QSqlRecord rec = db.record(table);
        for (int i = 0; i < rec.count(); ++i) {
            names << rec.fieldName(i);
        }
        return names;
    }

    QVariant scalar(const QString& sql) {
        QSqlQuery q(store_.reportDb());
        if (!q.exec(sql) || !q.next()) {
            return {};
        }
        return q.value(0);
    }

    void addPart(const QString& id, const QString& name) {
        QSqlQuery q(store_.reportDb());
        q.prepare(
            "INSERT INTO tabPartInfo (PartID, PartName, Mandator, FlawInfo) VALUES (?,?,?,?)");
        q.addBindValue(id);
        q.addBindValue(name);
        q.addBindValue("QA");
        q.addBindValue("crack");
        ASSERT_TRUE(q.exec());
    }

    QTemporaryDir dir_;
    DataStore store_;
};

} // namespace

TEST_F(DataStoreTest, CreatesBothFilesWithTheirTables) {
    EXPECT_TRUE(QFile::exists(dir_.filePath("UFD.mdb")));
    EXPECT_TRUE(QFile::exists(dir_.filePath("kvrt.mdb")));
    EXPECT_TRUE(store_.usersDatabaseCreated());

    const QStringList report = columnsOf(store_.reportDb(), "tabDetectorReport");
    EXPECT_EQ(report, DataStore::reportColumns());
    for (const char* c : {"FileNum", "FileDate", "FileData", "GateB_Height", "DAC_Offset5",
                          "AVG__Ers2", "AVG_SamplePot1", "Flag_FullSScr"}) {
        EXPECT_TRUE(report.contains(c)) << c;
    }
    const QStringList parts = columnsOf(store_.reportDb(), "tabPartInfo");
    ASSERT_EQ(parts.size(), 11);
    EXPECT_EQ(parts.mid(0, 6),
              QStringList({"PartID", "PartName", "PartType", "Material", "Heat", "Face"}));
    EXPECT_EQ(parts[7], "Mandator");
    EXPECT_EQ(parts[10], "FlawInfo");

    const QStringList users = columnsOf(store_.userDb(), "UserTable");
    ASSERT_GE(users.size(), 4);
    EXPECT_EQ(users[1], QStringLiteral("用户名"));
    EXPECT_EQ(users[2], QStringLiteral("密码"));
    EXPECT_TRUE(users.contains(QStringLiteral("用户类型")));
    for (const char* legacy : {"SheBeiTable", "IntTable", "SoeTable"}) {
        EXPECT_TRUE(store_.userDb().tables().contains(legacy)) << legacy;
    }

    // Opening again finds the files and creates nothing.
    DataStore again;
    ASSERT_TRUE(again.open(dir_.path()));
    EXPECT_FALSE(again.usersDatabaseCreated());
}

TEST_F(DataStoreTest, ReplacingReportsKeepsOrderTypesAndIsRepeatable) {
    const auto decoded = reports::decodeReportFile(demo::makeReportImage(12, 5));
    ASSERT_EQ(decoded.rows.size(), 12u);
    for (int round = 0; round < 2; ++round) {
        const auto res = store_.replaceReports(decoded.rows);
        EXPECT_EQ(res.stored, 12);
        EXPECT_EQ(res.failed, 0);
    }
    EXPECT_EQ(scalar("SELECT count(*) FROM tabDetectorReport").toInt(), 12);

    QSqlQuery q(store_.reportDb());
    ASSERT_TRUE(q.exec("SELECT FileNum, FileName, FileDate, sValue, typeof(sValue), mRange, "
                       "typeof(GateA_Start), typeof(FileNum), FileData, DAC_Offset3 "
                       "FROM tabDetectorReport ORDER BY rowid"));
    int i = 0;
    while (q.next()) {
        const reports::ReportRow& row = decoded.rows[static_cast<std::size_t>(i++)];
        EXPECT_EQ(q.value(0).toInt(), row.FileNum);
        EXPECT_EQ(q.value(1).toString(), row.FileName);
        EXPECT_EQ(q.value(2).toString(), row.FileDate.toString("yyyy-MM-dd hh:mm:ss"));
        EXPECT_EQ(q.value(3).toString(), row.sValue); // exactly the decoder's text
        EXPECT_EQ(q.value(4).toString(), "text");
        EXPECT_EQ(q.value(5).toString(), row.mRange);
        EXPECT_EQ(q.value(6).toString(), "real");
        EXPECT_EQ(q.value(7).toString(), "integer");
        EXPECT_EQ(q.value(8).toString(), row.FileData);
        EXPECT_TRUE(q.value(9).isNull());
    }
    EXPECT_EQ(i, 12);

    EXPECT_EQ(store_.replaceReports({}).stored, 0);
    EXPECT_EQ(scalar("SELECT count(*) FROM tabDetectorReport").toInt(), 0);
}

// Each row knows which report it is; a report table made before that learns it when opened.
TEST_F(DataStoreTest, RowsCarryTheirReportHashAlsoInAnOlderTable) {
    store_.close();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "older");
        db.setDatabaseName(dir_.filePath("UFD.mdb"));
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        ASSERT_TRUE(q.exec("ALTER TABLE tabDetectorReport DROP COLUMN ReportHash"));
        db.close();
    }
    QSqlDatabase::removeDatabase("older");
    ASSERT_TRUE(store_.open(dir_.path())) << store_.lastError().toStdString();
    const QByteArray image = demo::makeReportImage(2, 9);
    const auto decoded = reports::decodeReportFile(image);
    ASSERT_EQ(store_.replaceReports(decoded.rows).stored, 2);
    const auto* b = reinterpret_cast<const std::uint8_t*>(image.constData());
    const int slot = decoded.rows[1].FileNum;
    EXPECT_EQ(scalar("SELECT ReportHash FROM tabDetectorReport ORDER BY rowid DESC").toString(),
              reports::reportHash(b + reports::kDirectoryOffset + 32 * slot,
                                  b + reports::kSlotsOffset + 4096 * slot));
}

TEST_F(DataStoreTest, AnInvalidDateIsStoredAsNull) {
    auto decoded = reports::decodeReportFile(demo::makeReportImage(2, 1));
    decoded.rows[0].FileDate = QDateTime();
    store_.replaceReports(decoded.rows);
    EXPECT_EQ(scalar("SELECT count(*) FROM tabDetectorReport WHERE FileDate IS NULL").toInt(), 1);
}

// A delete or a commit the database refuses keeps the reports of the last import, every one.
TEST_F(DataStoreTest, ARefusedDeleteOrCommitKeepsTheTableAsItWas) {
    ASSERT_EQ(
        store_.replaceReports(reports::decodeReportFile(demo::makeReportImage(4, 1)).rows).stored,
        4);
    const auto next = reports::decodeReportFile(demo::makeReportImage(7, 2)).rows;
    QSqlQuery q(store_.scratchDb());
    ASSERT_TRUE(q.exec("CREATE TRIGGER keep BEFORE DELETE ON tabDetectorReport "
                       "BEGIN SELECT RAISE(ABORT, 'delete refused'); END"));
    auto res = store_.replaceReports(next);
    EXPECT_EQ(res.stored, 0);
    EXPECT_EQ(res.failed, 7);
    EXPECT_TRUE(res.firstError.contains("delete refused"));
    EXPECT_EQ(scalar("SELECT count(*) FROM tabDetectorReport").toInt(), 4);

    // A deferred constraint that every insert breaks fails only at the commit.
    ASSERT_TRUE(q.exec("DROP TRIGGER keep"));
    ASSERT_TRUE(q.exec("PRAGMA foreign_keys = ON"));
    ASSERT_TRUE(q.exec("CREATE TABLE parent (id INTEGER PRIMARY KEY)"));
    ASSERT_TRUE(q.exec("CREATE TABLE child (pid INTEGER REFERENCES parent(id) "
                       "DEFERRABLE INITIALLY DEFERRED)"));
    ASSERT_TRUE(q.exec("CREATE TRIGGER orphan AFTER INSERT ON tabDetectorReport "
                       "BEGIN INSERT INTO child VALUES (99); END"));
    res = store_.replaceReports(next);
    EXPECT_EQ(res.stored, 0);
    EXPECT_EQ(res.failed, 7);
    EXPECT_FALSE(res.firstError.isEmpty());
    EXPECT_EQ(scalar("SELECT count(*) FROM tabDetectorReport").toInt(), 4);
    EXPECT_EQ(scalar("SELECT count(*) FROM child").toInt(), 0);
}

TEST_F(DataStoreTest, ARefusedRowKeepsTheRowsBeforeIt) {
    QSqlQuery q(store_.reportDb());
    ASSERT_TRUE(q.exec("CREATE TRIGGER refuse BEFORE INSERT ON tabDetectorReport "
                       "WHEN NEW.FileNum = 3 BEGIN SELECT RAISE(ABORT, 'refused'); END"));
    const auto decoded = reports::decodeReportFile(demo::makeReportImage(6, 2));
    const auto res = store_.replaceReports(decoded.rows);
    EXPECT_EQ(res.stored, 5);
    EXPECT_EQ(res.failed, 1);
    EXPECT_TRUE(res.firstError.contains("refused"));
    EXPECT_EQ(scalar("SELECT count(*) FROM tabDetectorReport").toInt(), 5);
    EXPECT_EQ(
        scalar("SELECT FileNum FROM tabDetectorReport ORDER BY rowid LIMIT 1 OFFSET 2").toInt(), 2);
}

TEST_F(DataStoreTest, RowIdModelChangesAndDeletesOneOfTwinReports) {
    auto decoded = reports::decodeReportFile(demo::makeReportImage(1, 3));
    decoded.rows.push_back(decoded.rows.front());
    ASSERT_EQ(store_.replaceReports(decoded.rows).stored, 2);

    reports::RowIdTableModel model(nullptr, store_.reportDb());
    model.setTable("tabDetectorReport");
    model.setEditStrategy(QSqlTableModel::OnManualSubmit);
    ASSERT_TRUE(model.select()) << model.lastError().text().toStdString();
    EXPECT_EQ(model.columnCount(), DataStore::reportColumns().size()); // no column of its own
    ASSERT_TRUE(model.setData(model.index(1, model.fieldIndex("FileName")), "changed"));
    ASSERT_TRUE(model.submitAll()) << model.lastError().text().toStdString();
    EXPECT_EQ(scalar("SELECT group_concat(FileName, '|') FROM tabDetectorReport").toString(),
              decoded.rows.front().FileName + "|changed");

    ASSERT_TRUE(model.removeRow(1));
    ASSERT_TRUE(model.submitAll()) << model.lastError().text().toStdString();
    EXPECT_EQ(scalar("SELECT count(*) FROM tabDetectorReport").toInt(), 1);
    EXPECT_EQ(model.rowCount(), 1);
}

TEST_F(DataStoreTest, WorkpieceNumbersAndDetails) {
    EXPECT_TRUE(store_.workpieceNumbers().isEmpty());
    EXPECT_FALSE(store_.workpieceDetails("W1").has_value());
    addPart("W2", "second");
    addPart("W1", "first");
    addPart("W1", "duplicate");
    addPart("W10", "ten");
    EXPECT_EQ(store_.workpieceNumbers(), QStringList({"W2", "W1", "W1", "W10"}));
    const auto d = store_.workpieceDetails("W1");
    ASSERT_TRUE(d.has_value());
    EXPECT_EQ(d->PartName, "first");
    EXPECT_EQ(d->Mandator, "QA");
    EXPECT_EQ(d->FlawInfo, "crack");
    EXPECT_FALSE(store_.workpieceDetails("W").has_value()); // whole value, not a prefix
    EXPECT_FALSE(store_.workpieceDetails("w1").has_value());
}

TEST_F(DataStoreTest, LoginIsExactAndPasswordsAreHashed) {
    app::UserAccounts users(store_.userDb());
    ASSERT_TRUE(users.addUser("Inspector", "secret "));
    ASSERT_TRUE(users.addUser("Inspector", "other"));
    ASSERT_TRUE(users.addUser("blank", ""));
    EXPECT_EQ(users.userNames(), QStringList({"Inspector", "Inspector", "blank"}));

    QSqlQuery q(store_.userDb());
    ASSERT_TRUE(q.exec(QStringLiteral("SELECT \"密码\" FROM UserTable")));
    while (q.next()) {
        EXPECT_TRUE(app::isPasswordHash(q.value(0).toString()));
        EXPECT_FALSE(q.value(0).toString().contains("secret"));
    }

    EXPECT_EQ(users.login("Inspector", "secret ").value_or(""), "Inspector");
    EXPECT_FALSE(users.login("Inspector", "secret")); // trailing blank matters
    EXPECT_FALSE(users.login("inspector", "secret "));
    EXPECT_FALSE(users.login("Inspector", "other")); // the first row of that name decides
    EXPECT_FALSE(users.login("Nobody", ""));
    EXPECT_EQ(users.login("blank", "").value_or("x"), "blank");
}

TEST_F(DataStoreTest, PlainTextPasswordOfAnOlderDatabaseIsRehashedOnLogin) {
    QSqlQuery q(store_.userDb());
    ASSERT_TRUE(q.exec(QStringLiteral("INSERT INTO UserTable (\"用户名\", \"密码\", \"用户类型\") "
                                      "VALUES ('admin', 'Pa55', '1')")));
    app::UserAccounts users(store_.userDb());
    EXPECT_FALSE(users.login("admin", "pa55"));
    EXPECT_EQ(users.login("admin", "Pa55").value_or(""), "admin");
    ASSERT_TRUE(
        q.exec(QStringLiteral("SELECT \"密码\" FROM UserTable WHERE \"用户名\" = 'admin'")));
    ASSERT_TRUE(q.next());
    EXPECT_TRUE(app::isPasswordHash(q.value(0).toString()));
    EXPECT_TRUE(users.login("admin", "Pa55").has_value());
}
