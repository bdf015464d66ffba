// Writes the default spreadsheet report template: one printed page with a label beside every
// cell the report fills, a frame, and an A-scan chart over the sample columns R to X.
// Usage: make_report_template OUTPUT.xlsx
#include <xlsxwriter.h>

#include <ctime>

#include <array>
#include <cstdio>
#include <map>
#include <string>
#include <utility>

namespace {

constexpr int kRows = 45; // the printed block A1:I45
constexpr int kCols = 9;  // columns A to I
constexpr char kSheet[] = "Report";

enum class Role { Blank, Label, Value, Title, Heading };

struct Cell {
    Role role = Role::Blank;
    std::string text;
    int mergeTo = -1; // last column (0-based) of a merge starting here
};

class Template {
public:
    explicit Template(lxw_workbook* wb) : wb_(wb) {}

    void label(int row, int col, const char* text) {
        grid_[row - 1][col - 1] = {Role::Label, text};
    }
    void value(int row, int col, int lastCol = 0) {
        grid_[row - 1][col - 1] = {Role::Value, {}, lastCol > 0 ? lastCol - 1 : -1};
    }
    void heading(int row, int col, int lastCol, const char* text) {
        grid_[row - 1][col - 1] = {Role::Heading, text, lastCol - 1};
    }
    void title(const char* text) { grid_[0][0] = {Role::Title, text, kCols - 1}; }

    void write(lxw_worksheet* ws) {
        for (int r = 0; r < kRows; ++r) {
            for (int c = 0; c < kCols; ++c) {
                const Cell& cell = grid_[r][c];
                const int last = cell.mergeTo >= 0 ? cell.mergeTo : c;
                lxw_format* f = format(cell.role, edges(r, c, last));
                const auto row = static_cast<lxw_row_t>(r);
                if (cell.mergeTo > c) {
                    worksheet_merge_range(ws, row, static_cast<lxw_col_t>(c), row,
                                          static_cast<lxw_col_t>(last), cell.text.c_str(), f);
                    c = last;
                } else if (!cell.text.empty()) {
                    worksheet_write_string(ws, row, static_cast<lxw_col_t>(c), cell.text.c_str(),
                                           f);
                } else if (f != nullptr) {
                    worksheet_write_blank(ws, row, static_cast<lxw_col_t>(c), f);
                }
            }
        }
    }

private:
    // Frame edges of a cell spanning columns first..last: bit 0 top, 1 bottom, 2 left, 3 right.
    static int edges(int r, int first, int last) {
        return (r == 0 ? 1 : 0) | (r == kRows - 1 ? 2 : 0) | (first == 0 ? 4 : 0) |
               (last == kCols - 1 ? 8 : 0);
    }

    lxw_format* format(Role role, int frame) {
        if (role == Role::Blank && frame == 0) {
            return nullptr;
        }
        const auto key = std::make_pair(static_cast<int>(role), frame);
        if (auto it = formats_.find(key); it != formats_.end()) {
            return it->second;
        }
        lxw_format* f = workbook_add_format(wb_);
        format_set_font_name(f, "Arial");
        format_set_font_size(f, 9);
        format_set_align(f, LXW_ALIGN_VERTICAL_CENTER);
        switch (role) {
        case Role::Label:
            format_set_bold(f);
            format_set_bg_color(f, 0xDCE6F1);
            format_set_border(f, LXW_BORDER_THIN);
            break;
        case Role::Value:
            format_set_align(f, LXW_ALIGN_LEFT);
            format_set_border(f, LXW_BORDER_THIN);
            break;
        case Role::Title:
            format_set_bold(f);
            format_set_font_size(f, 16);
            format_set_align(f, LXW_ALIGN_CENTER);
            format_set_bottom(f, LXW_BORDER_MEDIUM);
            break;
        case Role::Heading:
            format_set_bold(f);
            format_set_font_size(f, 10);
            format_set_bottom(f, LXW_BORDER_THIN);
            break;
        case Role::Blank:
            break;
        }
        if (frame & 1) {
            format_set_top(f, LXW_BORDER_MEDIUM);
        }
        if (frame & 2) {
            format_set_bottom(f, LXW_BORDER_MEDIUM);
        }
        if (frame & 4) {
            format_set_left(f, LXW_BORDER_MEDIUM);
        }
        if (frame & 8) {
            format_set_right(f, LXW_BORDER_MEDIUM);
        }
        formats_[key] = f;
        return f;
    }

    lxw_workbook* wb_;
    std::array<std::array<Cell, kCols>, kRows> grid_{};
    std::map<std::pair<int, int>, lxw_format*> formats_;
};

// The report's cells with their labels; column numbers count from 1 as the report writer's do.
void layOutPage(Template& t) {
    t.title("Ultrasonic Flaw Detect Report");
    t.label(2, 2, "Report name");
    t.value(2, 3, 5);
    t.label(2, 6, "Date");
    t.value(2, 7, 9);
    t.label(3, 2, "Location");
    t.value(3, 3, 5);

    t.label(4, 2, "Workpiece No.");
    t.value(4, 3);
    t.label(4, 4, "Type");
    t.value(4, 5);
    t.label(4, 6, "Name");
    t.value(4, 7, 9);
    t.label(5, 2, "Material");
    t.value(5, 3);
    t.label(5, 4, "Roughness Ra");
    t.value(5, 5);
    t.label(5, 6, "Heat treatment");
    t.value(5, 7, 9);
    t.label(6, 2, "Flaw description");
    t.value(6, 3, 5);
    t.label(6, 6, "Department");
    t.value(6, 7, 9);

    t.label(7, 2, "Probe name");
    t.value(7, 3);
    t.label(7, 4, "Frequency");
    t.value(7, 5);
    t.label(7, 6, "Crystal size"); // the report puts "Probe diameter" here for straight probes
    t.value(7, 7);
    t.label(7, 8, "Damping");
    t.value(7, 9);
    t.label(8, 2, "Probe type");
    t.value(8, 3);
    t.label(8, 4, "Angle");
    t.value(8, 5);
    t.label(8, 6, "Front length");
    t.value(8, 7);
    t.label(8, 8, "Probe delay");
    t.value(8, 9);

    t.label(9, 4, "Base gain");
    t.value(9, 5);
    t.label(9, 6, "Thickness");
    t.value(9, 7);
    t.label(9, 8, "Gate alarm");
    t.value(9, 9);
    t.label(10, 2, "Range");
    t.value(10, 3);
    t.label(10, 4, "Velocity");
    t.value(10, 5);
    t.label(10, 6, "Gate A start");
    t.value(10, 7);
    t.label(10, 8, "Gate B start");
    t.value(10, 9);
    t.label(11, 2, "Display delay");
    t.value(11, 3);
    t.label(11, 6, "Gate A width");
    t.value(11, 7);
    t.label(11, 8, "Gate B width");
    t.value(11, 9);
    t.label(12, 2, "Rectify");
    t.value(12, 3);
    t.label(12, 4, "Reject");
    t.value(12, 5);
    t.label(12, 6, "Gate A height");
    t.value(12, 7);
    t.label(12, 8, "Gate B height");
    t.value(12, 9);

    t.label(14, 2, "Surface gain");
    t.value(14, 3);
    t.label(14, 4, "Offset RL");
    t.value(14, 5);
    t.label(14, 6, "Offset SL");
    t.value(14, 7);
    t.label(14, 8, "Offset EL");
    t.value(14, 9);
    t.label(15, 2, "Pulse amplitude");
    t.value(15, 3);
    t.label(15, 4, "Pulse width");
    t.value(15, 5);
    t.label(15, 6, "Pulse frequency");
    t.value(15, 7);

    t.label(16, 2, "Echo path");
    t.value(16, 3);
    t.label(16, 4, "Horizontal dist.");
    t.value(16, 5);
    t.label(16, 6, "Vertical dist.");
    t.value(16, 7);
    t.label(16, 8, "Echoes");
    t.value(16, 9);
    t.label(17, 2, "Echo height");
    t.value(17, 3);
    t.label(17, 4, "Equivalent");
    t.value(17, 5);
    t.label(17, 6, "Unit");
    t.value(17, 7);

    t.heading(19, 2, 9, "A-scan");
    t.label(43, 2, "Inspector");
    t.value(43, 3, 5);
    t.label(43, 6, "Checked by");
    t.value(43, 7, 9);
}

// Path against echo, the three curves and the two gates, from the sample columns R to X.
void addChart(lxw_workbook* wb, lxw_worksheet* ws) {
    lxw_chart* chart = workbook_add_chart(wb, LXW_CHART_SCATTER_STRAIGHT);
    struct Series {
        lxw_col_t col;
        const char* name;
        lxw_color_t color;
        float width;
    };
    const Series series[] = {
        // The library reads a colour of 0 as "none" and draws its default blue.
        {18, "=Report!$S$1", LXW_COLOR_BLACK, 1.0f}, {19, "=Report!$T$1", 0x0080FF, 1.25f},
        {20, "=Report!$U$1", 0xFF80FF, 1.25f},       {21, "=Report!$V$1", 0x00FF80, 1.25f},
        {22, "=Report!$W$1", 0xFF0000, 2.25f},       {23, "=Report!$X$1", 0x00FF00, 2.25f},
    };
    for (const Series& s : series) {
        lxw_chart_series* cs = chart_add_series(chart, nullptr, nullptr);
        chart_series_set_categories(cs, kSheet, 1, 17, 251, 17);
        chart_series_set_values(cs, kSheet, 1, s.col, 251, s.col);
        chart_series_set_name(cs, s.name);
        lxw_chart_line line{};
        line.color = s.color;
        line.width = s.width;
        chart_series_set_line(cs, &line);
        chart_series_set_marker_type(cs, LXW_CHART_MARKER_NONE);
    }
    chart_title_off(chart);
    chart_axis_set_name(chart->x_axis, "Path (mm)");
    chart_axis_set_name(chart->y_axis, "Amplitude (%)");
    // The report sets both axes to the report's range and rectification; these stand until then.
    chart_axis_set_min(chart->y_axis, 0);
    chart_axis_set_max(chart->y_axis, 100);
    // Path labels stay below the plot when the amplitude axis runs from -100.
    chart_axis_set_label_position(chart->x_axis, LXW_CHART_AXIS_LABEL_POSITION_LOW);
    chart_legend_set_position(chart, LXW_CHART_LEGEND_BOTTOM);
    chart_show_blanks_as(chart, LXW_CHART_BLANKS_AS_GAP);

    lxw_chart_options opt{};
    opt.x_offset = 4;
    opt.y_offset = 4;
    opt.x_scale = 1.72; // columns B to I
    opt.y_scale = 1.55; // rows 20 to 42
    worksheet_insert_chart_opt(ws, 19, 1, chart, &opt);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_report_template OUTPUT.xlsx\n");
        return 2;
    }
    lxw_workbook* wb = workbook_new(argv[1]);
    if (wb == nullptr) {
        std::fprintf(stderr, "make_report_template: cannot create %s\n", argv[1]);
        return 1;
    }
    lxw_worksheet* ws = workbook_add_worksheet(wb, kSheet);

    worksheet_set_column(ws, 0, 0, 1.5, nullptr);
    worksheet_set_column(ws, 1, 1, 15, nullptr);
    worksheet_set_column(ws, 2, 2, 13, nullptr);
    worksheet_set_column(ws, 3, 3, 15, nullptr);
    worksheet_set_column(ws, 4, 4, 13, nullptr);
    worksheet_set_column(ws, 5, 5, 15, nullptr);
    worksheet_set_column(ws, 6, 6, 13, nullptr);
    worksheet_set_column(ws, 7, 7, 13, nullptr);
    worksheet_set_column(ws, 8, 8, 13, nullptr);
    worksheet_set_column(ws, 9, 16, 3, nullptr);
    worksheet_set_row(ws, 0, 30, nullptr);

    Template t(wb);
    layOutPage(t);
    t.write(ws);

    // Sample columns: their styles carry over to the cells the report writes there.
    lxw_format* head = workbook_add_format(wb);
    format_set_bold(head);
    format_set_bottom(head, LXW_BORDER_THIN);
    lxw_format* path = workbook_add_format(wb);
    format_set_num_format(path, "0.00");
    lxw_format* number = workbook_add_format(wb);
    format_set_num_format(number, "General");
    worksheet_set_column(ws, 17, 17, 10, path);
    worksheet_set_column(ws, 18, 23, 10, number);
    const char* headers[] = {"Path (mm)", "Echo", "DAC1", "DAC2", "DAC3", "Gate A", "Gate B"};
    for (lxw_col_t c = 0; c < 7; ++c) {
        worksheet_write_string(ws, 0, static_cast<lxw_col_t>(17 + c), headers[c], head);
    }

    addChart(wb, ws);

    worksheet_set_paper(ws, 9); // A4
    worksheet_set_portrait(ws);
    worksheet_set_margins(ws, 0.5, 0.5, 0.6, 0.6);
    worksheet_center_horizontally(ws);
    worksheet_print_area(ws, 0, 0, kRows - 1, kCols - 1);
    worksheet_fit_to_pages(ws, 1, 1);

    // The program's own default, as long as no office program has saved it: marked with the
    // stamp of its making, which a save replaces in the package's modified time. A site's own
    // TSV.xls beside it is used instead, whatever the files' dates (an installation makes this
    // file newer than any site's template).
    const std::time_t made = std::time(nullptr);
    lxw_doc_properties properties{};
    properties.created = made;
    workbook_set_properties(wb, &properties);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&made));
    workbook_set_custom_property_string(wb, "UFD default template", stamp);

    const lxw_error err = workbook_close(wb);
    if (err != LXW_NO_ERROR) {
        std::fprintf(stderr, "make_report_template: %s\n", lxw_strerror(err));
        return 1;
    }
    return 0;
}
