#include "Workbook.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <freexl.h>

namespace morvel::formats {

namespace {

// Closes the workbook on every way out.
class WorkbookHandle {
public:
    WorkbookHandle() = default;
    WorkbookHandle(const WorkbookHandle&) = delete;
    WorkbookHandle& operator=(const WorkbookHandle&) = delete;
    ~WorkbookHandle() {
        if (m_handle)
            freexl_close(m_handle);
    }
    const void** slot() { return &m_handle; }
    const void* get() const { return m_handle; }

private:
    const void* m_handle = nullptr;
};

std::string freexlReason(int code) {
    switch (code) {
    case FREEXL_INSUFFICIENT_MEMORY:
        return "内存不足";
    case FREEXL_INVALID_CFBF_HEADER:
    case FREEXL_CFBF_INVALID_SIGNATURE:
        return "不是 Excel 97-2003 工作簿";
    case FREEXL_BIFF_WORKBOOK_NOT_FOUND:
        return "文件中没有工作簿";
    case FREEXL_INVALID_CHARACTER:
    case FREEXL_UNSUPPORTED_CHARSET:
        return "文字的编码无法识别";
    case FREEXL_CRAFTED_FILE:
        return "文件严重损坏";
    default:
        return "文件已损坏或格式不对（FreeXL 错误 " + std::to_string(code) + "）";
    }
}

Outcome notWorkbook(const std::string& path, const std::string& why) {
    return Outcome::fail(Failure::BadFormat,
                         "文件" + quoted(path) + "不是可读的 Excel 工作簿（.xls）：" + why);
}

std::optional<std::string> cellText(const FreeXL_CellValue& cell) {
    switch (cell.type) {
    case FREEXL_CELL_INT:
        return std::to_string(cell.value.int_value);
    case FREEXL_CELL_DOUBLE:
        return numberText(cell.value.double_value);
    case FREEXL_CELL_TEXT:
    case FREEXL_CELL_SST_TEXT:
    case FREEXL_CELL_DATE:
    case FREEXL_CELL_DATETIME:
    case FREEXL_CELL_TIME:
        if (cell.value.text_value)
            return std::string(cell.value.text_value);
        return std::nullopt;
    default:
        return std::nullopt;
    }
}

} // namespace

std::string numberText(double value) {
    char buffer[64];
    if (std::isfinite(value) && value == std::trunc(value) && std::fabs(value) < 1e15) {
        std::snprintf(buffer, sizeof buffer, "%.0f", value);
        // "-0" reads as plain 0
        return buffer == std::string("-0") ? std::string("0") : std::string(buffer);
    }
    for (int precision = 1; precision <= 17; ++precision) {
        std::snprintf(buffer, sizeof buffer, "%.*g", precision, value);
        if (std::strtod(buffer, nullptr) == value)
            break;
    }
    return buffer;
}

Outcome readFirstSheet(const std::string& path, Sheet& sheet) {
    if (Outcome readable = checkReadableFile(path); !readable.ok())
        return readable;

    WorkbookHandle workbook;
    if (int rc = freexl_open(path.c_str(), workbook.slot()); rc != FREEXL_OK)
        return notWorkbook(path, freexlReason(rc));

    unsigned int info = 0;
    if (freexl_get_info(workbook.get(), FREEXL_BIFF_PASSWORD, &info) == FREEXL_OK &&
        info == FREEXL_BIFF_OBFUSCATED)
        return notWorkbook(path, "工作簿有密码保护");
    if (freexl_get_info(workbook.get(), FREEXL_BIFF_SHEET_COUNT, &info) != FREEXL_OK || info == 0)
        return notWorkbook(path, "工作簿中没有工作表");

    const char* name = nullptr;
    if (freexl_get_worksheet_name(workbook.get(), 0, &name) == FREEXL_OK && name)
        sheet.name = name;
    if (int rc = freexl_select_active_worksheet(workbook.get(), 0); rc != FREEXL_OK)
        return notWorkbook(path, freexlReason(rc));

    unsigned int rows = 0;
    unsigned short columns = 0;
    if (int rc = freexl_worksheet_dimensions(workbook.get(), &rows, &columns); rc != FREEXL_OK)
        return notWorkbook(path, freexlReason(rc));

    sheet.columns = columns;
    sheet.rows.clear();
    sheet.rows.reserve(rows);
    for (unsigned int r = 0; r < rows; ++r) {
        SheetRow row;
        row.number = r + 1;
        row.cells.resize(columns);
        for (unsigned short c = 0; c < columns; ++c) {
            FreeXL_CellValue cell{};
            int rc = freexl_get_cell_value(workbook.get(), r, c, &cell);
            if (rc != FREEXL_OK)
                return notWorkbook(path, "第" + std::to_string(r + 1) + "行：" + freexlReason(rc));
            row.cells[c] = cellText(cell);
            if (row.cells[c] && !isCleanUtf8(*row.cells[c]))
                return notWorkbook(path, "第" + std::to_string(r + 1) + "行有无法识别的文字");
        }
        sheet.rows.push_back(std::move(row));
    }
    return Outcome::success();
}

} // namespace morvel::formats
