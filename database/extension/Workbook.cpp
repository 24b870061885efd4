#include "Workbook.h"

#include "Compound.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <freexl.h>
#include <fstream>
#include <iterator>
#include <sstream>
#include <unistd.h>

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

// ---- empty texts of the shared string table
//
// FreeXL gives up on a workbook whose shared string table holds an empty
// text (a cell typed empty, which some programs write): it opens nothing and
// says nothing. A copy of the workbook in which every empty shared text is
// the one character EmptyMark opens, and reading the copy turns the mark
// back into the empty text.

const std::string EmptyMark = "\x01";

constexpr uint16_t RecordEof = 0x000A;
constexpr uint16_t RecordContinue = 0x003C;
constexpr uint16_t RecordBoundSheet = 0x0085;
constexpr uint16_t RecordSst = 0x00FC;
constexpr size_t MaxRecordData = 8224;

struct Record {
    uint16_t type;
    std::string data;
};

uint16_t word(const std::string& b, size_t at) {
    return uint16_t(static_cast<unsigned char>(b[at]) | static_cast<unsigned char>(b[at + 1]) << 8);
}

uint32_t dword(const std::string& b, size_t at) {
    return uint32_t(word(b, at)) | uint32_t(word(b, at + 2)) << 16;
}

// Marks the empty texts of the table that starts at records[sst]; returns
// the bytes it added, or -1 when the table is not laid out as expected.
long markEmptyTexts(std::vector<Record>& records, size_t sst) {
    if (records[sst].data.size() < 8)
        return -1;
    size_t rec = sst;
    size_t p = 8;
    long added = 0;
    // The next record of the table, which goes on where this one ends.
    const auto nextRecord = [&] {
        if (rec + 1 >= records.size() || records[rec + 1].type != RecordContinue)
            return false;
        ++rec;
        p = 0;
        return true;
    };
    for (uint32_t left = dword(records[sst].data, 4); left > 0; --left) {
        if (p == records[rec].data.size() && !nextRecord())
            return -1;
        std::string* data = &records[rec].data;
        if (p + 3 > data->size())
            return -1;
        const uint16_t characters = word(*data, p);
        const unsigned char flags = static_cast<unsigned char>((*data)[p + 2]);
        const size_t header = 3 + ((flags & 0x08) ? 2 : 0) + ((flags & 0x04) ? 4 : 0);
        if (p + header > data->size())
            return -1;
        size_t trailing = ((flags & 0x08) ? 4 * size_t(word(*data, p + 3)) : 0) +
                          ((flags & 0x04) ? dword(*data, p + 3 + ((flags & 0x08) ? 2 : 0)) : 0);
        size_t width = (flags & 0x01) ? 2 : 1;
        if (characters == 0) {
            data->insert(p + header, width == 2 ? std::string("\x01\0", 2) : EmptyMark);
            (*data)[p] = 1;
            if (data->size() > MaxRecordData)
                return -1;
            added += long(width);
            p += header + width;
        } else {
            p += header;
            for (size_t chars = characters;;) {
                const size_t here = std::min(chars, (data->size() - p) / width);
                p += here * width;
                chars -= here;
                if (chars == 0)
                    break;
                // The characters go on in the next record, after a byte that
                // gives their width anew.
                if (!nextRecord() || records[rec].data.empty())
                    return -1;
                data = &records[rec].data;
                width = ((*data)[0] & 0x01) ? 2 : 1;
                p = 1;
            }
        }
        while (trailing > 0) {
            const size_t here = std::min(trailing, records[rec].data.size() - p);
            p += here;
            trailing -= here;
            if (trailing > 0 && !nextRecord())
                return -1;
        }
    }
    return added;
}

// The workbook stream with its empty shared texts marked; false when there
// is none or the stream is not laid out as expected.
bool markEmptySharedTexts(std::string& stream) {
    std::vector<Record> records;
    size_t at = 0;
    while (at + 4 <= stream.size()) {
        const uint16_t type = word(stream, at);
        const size_t length = word(stream, at + 2);
        if (at + 4 + length > stream.size())
            break;
        records.push_back({type, stream.substr(at + 4, length)});
        at += 4 + length;
    }
    const std::string rest = stream.substr(at);
    long added = 0;
    std::vector<size_t> sheets;
    for (size_t i = 0; i < records.size() && records[i].type != RecordEof; ++i) {
        if (records[i].type == RecordBoundSheet && records[i].data.size() >= 4)
            sheets.push_back(i);
        if (records[i].type == RecordSst && added == 0)
            added = markEmptyTexts(records, i);
    }
    if (added <= 0)
        return false;
    // The sheets lie after the table: their positions move on as far.
    for (size_t i : sheets) {
        const uint32_t moved = dword(records[i].data, 0) + uint32_t(added);
        for (int k = 0; k < 4; ++k)
            records[i].data[size_t(k)] = char((moved >> (8 * k)) & 0xFF);
    }
    std::string out;
    for (const Record& r : records) {
        out += char(r.type & 0xFF);
        out += char(r.type >> 8);
        out += char(r.data.size() & 0xFF);
        out += char(r.data.size() >> 8);
        out += r.data;
    }
    stream = out + rest;
    return true;
}

// A file that is removed with the object.
struct TemporaryFile {
    std::string path;
    ~TemporaryFile() {
        if (!path.empty())
            ::unlink(path.c_str());
    }
};

// The workbook at `path` copied with its empty shared texts marked.
bool markedCopy(const std::string& path, TemporaryFile& copy) {
    std::ifstream in(path, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::string stream;
    if (!in.good() && !in.eof())
        return false;
    if (!readCompoundStream(bytes, "Workbook", stream) || !markEmptySharedTexts(stream))
        return false;
    const std::string file = writeCompoundFile("Workbook", stream);
    if (file.empty())
        return false;
    char name[] = "/tmp/morvel-workbook-XXXXXX";
    const int fd = ::mkstemp(name);
    if (fd < 0)
        return false;
    copy.path = name;
    const bool written = ::write(fd, file.data(), file.size()) == ssize_t(file.size());
    return ::close(fd) == 0 && written;
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
    int opened = freexl_open(path.c_str(), workbook.slot());
    TemporaryFile marked;
    if (opened == FREEXL_OK && !workbook.get()) {
        if (!markedCopy(path, marked))
            return notWorkbook(path, "文件已损坏或格式不对");
        opened = freexl_open(marked.path.c_str(), workbook.slot());
    }
    if (opened != FREEXL_OK || !workbook.get())
        return notWorkbook(path, freexlReason(opened));

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
            if (!marked.path.empty() && row.cells[c] == EmptyMark)
                row.cells[c] = std::string();
            if (row.cells[c] && !isCleanUtf8(*row.cells[c]))
                return notWorkbook(path, "第" + std::to_string(r + 1) + "行有无法识别的文字");
        }
        sheet.rows.push_back(std::move(row));
    }
    return Outcome::success();
}

} // namespace morvel::formats
