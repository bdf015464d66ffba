#pragma once
// Report rows as the browser reads them: a demo report file decoded and stored in a real
// database, read back with the browser's query.

#include "core/online/record.h"
#include "core/reports/database.h"
#include "core/reports/report_file.h"
#include "demo/demo_data.h"

#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <vector>

namespace sheet_test {

// Demo reports alternate DAC (angle probe), AVG (straight probe) and plain (angle probe).
enum DemoRow { kDacRow = 0, kAvgRow = 1, kPlainRow = 2 };

class ReportRowsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        ASSERT_TRUE(store_.open(dir_.path())) << store_.lastError().toStdString();
        image_ = ufd::demo::makeReportImage(6, 11);
        decoded_ = ufd::reports::decodeReportFile(image_);
        ASSERT_TRUE(decoded_.sizeOk);
        ASSERT_EQ(store_.replaceReports(decoded_.rows).stored, 6);
        QSqlQuery q(store_.reportDb());
        ASSERT_TRUE(q.exec("select * From tabDetectorReport"));
        while (q.next()) {
            rows_.push_back(q.record());
        }
        ASSERT_EQ(rows_.size(), 6u);
    }

    // The instrument record of a demo report, straight from the file's bytes.
    ufd::online::InstrumentRecord record(int row) const {
        const auto* b = reinterpret_cast<const std::uint8_t*>(image_.constData());
        return ufd::online::decodeRecord(b + ufd::reports::kSlotsOffset +
                                             ufd::reports::kSlotSize *
                                                 static_cast<std::size_t>(row),
                                         ufd::online::Encoding::Stored);
    }

    QTemporaryDir dir_;
    ufd::reports::DataStore store_;
    QByteArray image_;
    ufd::reports::DecodeResult decoded_;
    std::vector<QSqlRecord> rows_;
};

} // namespace sheet_test
