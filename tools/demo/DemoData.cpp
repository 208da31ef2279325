#include "demo/DemoData.h"

#include <sqlite3.h>

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace {

[[noreturn]] void Fail(const std::string& what) {
    throw std::runtime_error(what);
}

std::string Local(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

// ---------------------------------------------------------------------------------------------
// Random numbers. Our own generator and our own reductions, because the standard distributions
// differ between library implementations and the data must be the same everywhere for a seed.

class Rng {
public:
    explicit Rng(uint64_t seed) : state_(seed) {}

    // SplitMix64.
    uint64_t Next() {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    // In [0, n). The bias of the multiply-shift reduction is far below anything visible here.
    uint32_t Below(uint64_t n) { return static_cast<uint32_t>(((Next() >> 32) * n) >> 32); }
    int Between(int lo, int hi) {
        return lo + static_cast<int>(Below(static_cast<uint64_t>(hi - lo) + 1));
    }
    bool Percent(int p) { return Below(100) < static_cast<uint32_t>(p); }
    char Digit() { return static_cast<char>('0' + Below(10)); }

    template <class T, size_t N>
    const T& Pick(const T (&items)[N]) {
        return items[Below(N)];
    }
    template <class T, size_t N>
    const T& Pick(const std::array<T, N>& items) {
        return items[Below(N)];
    }

private:
    uint64_t state_;
};

// Independent streams per table, so that changing the number of traders leaves the products alone.
uint64_t StreamSeed(uint32_t seed, uint32_t stream) {
    Rng mix((static_cast<uint64_t>(seed) << 32) | stream);
    return mix.Next();
}

// ---------------------------------------------------------------------------------------------
// SQLite, through its C API: one transaction, prepared statements, bound values.

class Db {
public:
    explicit Db(const QString& path) {
        const std::string name = Local(path);
        if (sqlite3_open_v2(name.c_str(), &db_,
                            SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                            nullptr) != SQLITE_OK) {
            const std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
            sqlite3_close(db_);
            Fail("cannot create " + name + ": " + message);
        }
    }
    ~Db() { sqlite3_close(db_); }
    Db(const Db&) = delete;
    Db& operator=(const Db&) = delete;

    void Exec(const std::string& sql) {
        char* err = nullptr;
        if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
            const std::string message = err ? err : sqlite3_errmsg(db_);
            sqlite3_free(err);
            Fail(message + "\n" + sql);
        }
    }
    sqlite3* Handle() const { return db_; }

private:
    sqlite3* db_ = nullptr;
};

// A prepared INSERT whose values are bound in column order by successive Put calls; Run stores
// the row and makes the statement ready for the next one. Texts other than temporaries are bound
// without copying, so they must live until Run.
class Insert {
public:
    Insert(Db& db, const std::string& sql) : db_(db) {
        if (sqlite3_prepare_v2(db.Handle(), sql.c_str(), static_cast<int>(sql.size()), &stmt_,
                               nullptr) != SQLITE_OK) {
            Fail(std::string(sqlite3_errmsg(db.Handle())) + "\n" + sql);
        }
    }
    ~Insert() { sqlite3_finalize(stmt_); }
    Insert(const Insert&) = delete;
    Insert& operator=(const Insert&) = delete;

    Insert& Put(std::string_view text) {
        Check(sqlite3_bind_text(stmt_, next_++, text.data(), static_cast<int>(text.size()),
                                SQLITE_STATIC));
        return *this;
    }
    Insert& Put(const char* text) { return Put(std::string_view(text)); }
    Insert& Put(const std::string& text) { return Put(std::string_view(text)); }
    // A temporary is gone before Run, so SQLite keeps its own copy.
    Insert& Put(std::string&& text) {
        Check(sqlite3_bind_text(stmt_, next_++, text.data(), static_cast<int>(text.size()),
                                SQLITE_TRANSIENT));
        return *this;
    }
    Insert& Put(const std::optional<std::string>& text) {
        return text ? Put(std::string_view(*text)) : PutNull();
    }
    Insert& Put(int64_t v) {
        Check(sqlite3_bind_int64(stmt_, next_++, v));
        return *this;
    }
    Insert& Put(int v) { return Put(static_cast<int64_t>(v)); }
    Insert& Put(double v) {
        Check(sqlite3_bind_double(stmt_, next_++, v));
        return *this;
    }
    Insert& Put(const std::optional<double>& v) { return v ? Put(*v) : PutNull(); }
    Insert& PutNull() {
        Check(sqlite3_bind_null(stmt_, next_++));
        return *this;
    }

    void Run() {
        if (next_ - 1 != sqlite3_bind_parameter_count(stmt_)) {
            Fail("row has " + std::to_string(next_ - 1) + " values for " +
                 std::to_string(sqlite3_bind_parameter_count(stmt_)) +
                 " columns: " + sqlite3_sql(stmt_));
        }
        if (sqlite3_step(stmt_) != SQLITE_DONE) {
            Fail(std::string(sqlite3_errmsg(db_.Handle())) + "\n" + sqlite3_sql(stmt_));
        }
        sqlite3_reset(stmt_);
        next_ = 1;
    }

private:
    void Check(int rc) {
        if (rc != SQLITE_OK) {
            Fail(std::string("bind: ") + sqlite3_errmsg(db_.Handle()));
        }
    }

    Db& db_;
    sqlite3_stmt* stmt_ = nullptr;
    int next_ = 1;
};

// ---------------------------------------------------------------------------------------------
// Schemas. Each table is a list of columns in table order; CREATE TABLE is built from it, and the
// INSERTs name columns, so that the order in the file never has to match the order of the code.

struct Column {
    const char* name;
    const char* declaration;
};

std::string CreateTableSql(const char* table, std::span<const Column> columns) {
    std::string sql = "CREATE TABLE ";
    sql += table;
    sql += " (";
    for (size_t i = 0; i < columns.size(); ++i) {
        sql += i ? ",\n    " : "\n    ";
        sql += columns[i].name;
        sql += ' ';
        sql += columns[i].declaration;
    }
    sql += "\n)";
    return sql;
}

std::string InsertSql(const char* table, std::span<const char* const> names) {
    std::string sql = "INSERT INTO ";
    sql += table;
    sql += " (";
    for (size_t i = 0; i < names.size(); ++i) {
        sql += i ? ", " : "";
        sql += names[i];
    }
    sql += ") VALUES (";
    for (size_t i = 0; i < names.size(); ++i) {
        sql += i ? ", ?" : "?";
    }
    sql += ")";
    return sql;
}

// Dorvik's product (상품). Prices are reals, as its money columns are doubles; yes/no is 0 or 1.
constexpr Column kSourceProduct[] = {
    {"code", "TEXT NOT NULL PRIMARY KEY"},  // 상품코드
    {"name", "TEXT NOT NULL DEFAULT ''"},   // 상품명
    {"stand", "TEXT NOT NULL DEFAULT ''"},  // 규격
    {"unit", "TEXT NOT NULL DEFAULT ''"},   // 단위
    {"barcode", "TEXT"},
    {"groupname", "TEXT NOT NULL DEFAULT ''"},  // 분류
    {"maker", "TEXT"},                          // 제조사
    {"origin", "TEXT"},                         // 원산지
    {"inprice", "REAL NOT NULL DEFAULT 0"},     // 매입단가
    {"outprice", "REAL NOT NULL DEFAULT 0"},    // 매출단가
    {"outprice2", "REAL NOT NULL DEFAULT 0"},   // 도매가
    {"outprice3", "REAL NOT NULL DEFAULT 0"},   // 소비자가
    {"taxkind", "INTEGER NOT NULL DEFAULT 1"},  // 1 과세, 0 면세
    {"stock", "INTEGER NOT NULL DEFAULT 0"},    // 현재고
    {"safestock", "INTEGER NOT NULL DEFAULT 0"},
    {"boxqty", "INTEGER NOT NULL DEFAULT 1"},  // 입수량
    {"weight", "REAL"},
    {"location", "TEXT"},  // 보관위치
    {"maincust", "TEXT"},  // 주거래처 코드
    {"lastindate", "TEXT"},
    {"lastoutdate", "TEXT"},
    {"regdate", "TEXT"},
    {"moddate", "TEXT"},
    {"dcrate", "REAL NOT NULL DEFAULT 0"},
    {"useyn", "INTEGER NOT NULL DEFAULT 1"},
    {"sortno", "INTEGER NOT NULL DEFAULT 0"},
    {"remark", "TEXT"},
    {"engname", "TEXT"},
    {"imagefile", "TEXT"},
    {"memo", "TEXT"},
};

// SolvanePlus's product: the same columns in its own order and spelling, plus its own columns.
constexpr Column kDestProduct[] = {
    {"Code", "TEXT NOT NULL PRIMARY KEY"},
    {"Name", "TEXT NOT NULL DEFAULT ''"},
    {"Stand", "TEXT NOT NULL DEFAULT ''"},
    {"Unit", "TEXT NOT NULL DEFAULT ''"},
    {"classcode", "TEXT NOT NULL DEFAULT ''"},  // 분류코드 (pclass.Code)
    {"InPrice", "REAL NOT NULL DEFAULT 0"},
    {"OutPrice", "REAL NOT NULL DEFAULT 0"},
    {"OutPrice2", "REAL NOT NULL DEFAULT 0"},
    {"OutPrice3", "REAL NOT NULL DEFAULT 0"},
    {"ptax", "INTEGER NOT NULL DEFAULT 0"},  // 부가세 적용
    {"TaxKind", "INTEGER NOT NULL DEFAULT 1"},
    {"Stock", "INTEGER NOT NULL DEFAULT 0"},
    {"SafeStock", "INTEGER NOT NULL DEFAULT 0"},
    {"BManage", "INTEGER NOT NULL DEFAULT 0"},  // 재고관리 여부
    {"BoxQty", "INTEGER NOT NULL DEFAULT 1"},
    {"Barcode", "TEXT"},
    {"pcode2", "TEXT"},  // 보조코드
    {"GroupName", "TEXT NOT NULL DEFAULT ''"},
    {"Maker", "TEXT"},
    {"Origin", "TEXT"},
    {"Weight", "REAL"},
    {"Location", "TEXT"},
    {"MainCust", "TEXT"},
    {"DCRate", "REAL NOT NULL DEFAULT 0"},
    {"PriceGrade", "INTEGER NOT NULL DEFAULT 0"},  // 적용 단가 등급
    {"RegDate", "TEXT"},
    {"LastInDate", "TEXT"},
    {"LastOutDate", "TEXT"},
    {"ModDate", "TEXT"},
    {"UseYN", "INTEGER NOT NULL DEFAULT 1"},
    {"SortNo", "INTEGER NOT NULL DEFAULT 0"},
    {"EngName", "TEXT"},
    {"ImageFile", "TEXT"},
    {"reserve1", "TEXT DEFAULT ''"},
    {"reserve2", "TEXT DEFAULT ''"},
    {"reserve3", "TEXT DEFAULT ''"},
    {"Remark", "TEXT"},
    {"Memo", "TEXT"},
};

// Dorvik's trader (거래처).
constexpr Column kSourceTrader[] = {
    {"code", "TEXT NOT NULL PRIMARY KEY"},   // 거래처코드
    {"name", "TEXT NOT NULL DEFAULT ''"},    // 상호
    {"boss", "TEXT"},                        // 대표자
    {"bizno", "TEXT"},                       // 사업자등록번호
    {"uptae", "TEXT"},                       // 업태
    {"jongmok", "TEXT"},                     // 종목
    {"kind", "INTEGER NOT NULL DEFAULT 0"},  // 0 매출, 1 매입, 2 매출매입
    {"zipcode", "TEXT"},
    {"addr1", "TEXT"},
    {"addr2", "TEXT"},
    {"tel", "TEXT"},
    {"fax", "TEXT"},
    {"hphone", "TEXT"},  // 휴대폰
    {"email", "TEXT"},
    {"u_name", "TEXT"},  // 담당자
    {"bank", "TEXT"},
    {"account", "TEXT"},
    {"creditlimit", "REAL NOT NULL DEFAULT 0"},  // 여신한도
    {"balance", "REAL NOT NULL DEFAULT 0"},      // 미수금
    {"regdate", "TEXT"},
    {"lastdate", "TEXT"},  // 최종거래일
    {"useyn", "INTEGER NOT NULL DEFAULT 1"},
    {"memo", "TEXT"},
};

// SolvanePlus's trader.
constexpr Column kDestTrader[] = {
    {"Code", "TEXT NOT NULL PRIMARY KEY"},
    {"section", "INTEGER NOT NULL DEFAULT 0"},  // 거래처 구분
    {"Name", "TEXT NOT NULL DEFAULT ''"},
    {"Boss", "TEXT"},
    {"BizNo", "TEXT"},
    {"Uptae", "TEXT"},
    {"Jongmok", "TEXT"},
    {"Kind", "INTEGER NOT NULL DEFAULT 0"},
    {"Tel", "TEXT"},
    {"HPhone", "TEXT"},
    {"Fax", "TEXT"},
    {"EMail", "TEXT"},
    {"U_Name", "TEXT"},
    {"U_Name2", "TEXT"},  // 보조 담당자
    {"ZipCode", "TEXT"},
    {"Addr1", "TEXT"},
    {"Addr2", "TEXT"},
    {"Area", "TEXT NOT NULL DEFAULT ''"},           // 지역
    {"MultyCostNo", "INTEGER NOT NULL DEFAULT 0"},  // 적용 단가 번호
    {"SaleDC", "REAL NOT NULL DEFAULT 0"},          // 매출 할인율
    {"TradeStop", "INTEGER NOT NULL DEFAULT 0"},    // 거래중지
    {"CreditLimit", "REAL NOT NULL DEFAULT 0"},
    {"Balance", "REAL NOT NULL DEFAULT 0"},
    {"Bank", "TEXT"},
    {"Account", "TEXT"},
    {"RegDate", "TEXT"},
    {"LastDate", "TEXT"},
    {"UseYN", "INTEGER NOT NULL DEFAULT 1"},
    {"HomePage", "TEXT"},
    {"Memo", "TEXT"},
};

// SolvanePlus's product classes (상품 분류).
constexpr Column kDestClass[] = {
    {"Code", "TEXT NOT NULL PRIMARY KEY"},    {"ClassName", "TEXT NOT NULL DEFAULT ''"},
    {"Used", "INTEGER NOT NULL DEFAULT 1"},   {"ParentCode", "TEXT NOT NULL DEFAULT ''"},
    {"SortNo", "INTEGER NOT NULL DEFAULT 0"},
};

// Tables of both products that the tool never touches.
constexpr Column kSourceCompany[] = {
    {"code", "TEXT NOT NULL PRIMARY KEY"},
    {"name", "TEXT NOT NULL DEFAULT ''"},
    {"boss", "TEXT"},
    {"bizno", "TEXT"},
    {"uptae", "TEXT"},
    {"jongmok", "TEXT"},
    {"addr", "TEXT"},
    {"tel", "TEXT"},
    {"fax", "TEXT"},
    {"email", "TEXT"},
};
constexpr Column kDestCompany[] = {
    {"CompanyNo", "INTEGER NOT NULL PRIMARY KEY"},
    {"CompanyName", "TEXT NOT NULL DEFAULT ''"},
    {"Ceo", "TEXT"},
    {"BizNo", "TEXT"},
    {"Uptae", "TEXT"},
    {"Jongmok", "TEXT"},
    {"Address", "TEXT"},
    {"Tel", "TEXT"},
    {"Fax", "TEXT"},
    {"EMail", "TEXT"},
    {"TaxMail", "INTEGER NOT NULL DEFAULT 0"},
};
constexpr Column kDbInfo[] = {
    {"item", "TEXT NOT NULL PRIMARY KEY"},
    {"value", "TEXT"},
};

// The order in which the product and trader values are bound: the source's column order. The
// destination's INSERT names the same columns (its spelling differs only in letter case, which
// SQLite ignores) and then its own.
template <size_t N>
std::array<const char*, N> Names(const Column (&columns)[N]) {
    std::array<const char*, N> names{};
    for (size_t i = 0; i < N; ++i) {
        names[i] = columns[i].name;
    }
    return names;
}

template <size_t N, size_t M>
std::vector<const char*> Concat(const std::array<const char*, N>& a, const char* const (&b)[M]) {
    std::vector<const char*> all(a.begin(), a.end());
    all.insert(all.end(), std::begin(b), std::end(b));
    return all;
}

constexpr const char* kDestProductOwn[] = {"classcode",  "ptax",     "BManage",  "pcode2",
                                           "PriceGrade", "reserve1", "reserve2", "reserve3"};
constexpr const char* kDestTraderOwn[] = {"section", "U_Name2",   "Area",    "MultyCostNo",
                                          "SaleDC",  "TradeStop", "HomePage"};

// ---------------------------------------------------------------------------------------------
// Master data: word lists.

struct Item {
    const char* name;
    const char* unit;
    int minPrice;
    int maxPrice;
    std::array<const char*, 4> stands;  // unused entries are null
    bool taxFree;
    const char* english;
    int boxQty;
};

// clang-format off
constexpr Item kStationery[] = {
    {"볼펜", "개", 300, 1500, {"0.5mm 흑색", "0.7mm 청색", "0.7mm 적색", "1.0mm 흑색"}, false, "Ballpoint pen", 12},
    {"중성펜", "개", 800, 2500, {"0.38mm 흑색", "0.5mm 청색", "0.5mm 흑색"}, false, "Gel pen", 12},
    {"샤프펜슬", "개", 1000, 9000, {"0.5mm", "0.7mm", "0.3mm"}, false, "Mechanical pencil", 10},
    {"연필", "박스", 3000, 12000, {"HB 12자루", "2B 12자루", "4B 12자루"}, false, "Pencil", 20},
    {"형광펜", "세트", 2000, 6000, {"5색", "3색", "6색"}, false, "Highlighter set", 10},
    {"스프링노트", "개", 1000, 4500, {"A4 80매", "B5 60매", "A5 50매"}, false, "Spiral notebook", 20},
    {"점착메모지", "개", 700, 3000, {"76x76mm", "51x38mm", "76x127mm"}, false, "Sticky notes", 24},
    {"지우개", "개", 300, 1200, {"대", "소", "점보"}, false, "Eraser", 40},
    {"딱풀", "개", 800, 2500, {"15g", "25g", "35g"}, false, "Glue stick", 24},
    {"가위", "개", 1500, 7000, {"170mm", "210mm"}, false, "Scissors", 12},
    {"커터칼", "개", 800, 4000, {"18mm", "9mm"}, false, "Cutter knife", 12},
    {"색연필", "세트", 3000, 25000, {"12색", "24색", "36색"}, false, "Colored pencils", 10},
};
constexpr Item kOffice[] = {
    {"복사용지", "박스", 18000, 32000, {"A4 80g 2500매", "A4 75g 2500매", "B5 80g 2500매"}, false, "Copy paper", 1},
    {"클립", "박스", 500, 2000, {"33mm 100개", "50mm 50개"}, false, "Paper clips", 50},
    {"스테이플러", "개", 3000, 15000, {"10호", "33호"}, false, "Stapler", 10},
    {"스테이플심", "박스", 500, 3000, {"10호 1000개", "33호 1000개"}, false, "Staples", 50},
    {"L자 화일", "세트", 2000, 8000, {"A4 10매", "A4 50매"}, false, "L-shaped folders", 20},
    {"바인더", "개", 2000, 7000, {"A4 3공 5cm", "A4 2공 3cm"}, false, "Binder", 12},
    {"라벨지", "박스", 8000, 25000, {"A4 100매 2칸", "A4 100매 21칸"}, false, "Labels", 5},
    {"토너 카트리지", "EA", 35000, 120000, {"흑백 2,000매", "컬러 1,500매"}, false, "Toner cartridge", 1},
    {"계산기", "EA", 5000, 35000, {"12자리", "14자리"}, false, "Calculator", 10},
};
constexpr Item kFood[] = {
    {"생수", "박스", 4000, 9000, {"500ml x 20", "2L x 6"}, false, "Mineral water", 1},
    {"봉지라면", "세트", 3000, 6000, {"120g x 5", "130g x 4"}, false, "Instant noodles", 8},
    {"컵라면", "박스", 10000, 20000, {"65g x 24", "110g x 16"}, false, "Cup noodles", 1},
    {"즉석밥", "박스", 12000, 25000, {"210g x 12", "210g x 24"}, false, "Cooked rice", 1},
    {"쌀", "kg", 2500, 4500, {"20kg 포대", "10kg 포대", "4kg"}, true, "Rice", 1},
    {"찹쌀", "kg", 3500, 6000, {"국산", "4kg"}, true, "Glutinous rice", 1},
    {"고춧가루", "kg", 20000, 45000, {"태양초 1kg", "500g"}, true, "Red pepper powder", 10},
    {"참기름", "개", 6000, 15000, {"320ml", "500ml"}, false, "Sesame oil", 12},
    {"백설탕", "개", 2000, 6000, {"1kg", "3kg"}, false, "Sugar", 10},
    {"커피믹스", "박스", 10000, 25000, {"12g x 100T", "12g x 200T"}, false, "Coffee mix", 8},
    {"녹차 티백", "박스", 3000, 9000, {"1.2g x 25T", "1.2g x 50T"}, false, "Green tea bags", 20},
    {"조미김", "세트", 5000, 15000, {"4g x 16봉", "5g x 12봉"}, false, "Seasoned laver", 8},
    {"계란", "박스", 6000, 12000, {"특란 30구", "대란 30구"}, true, "Eggs", 1},
};
constexpr Item kElectronics[] = {
    {"USB 메모리", "EA", 5000, 30000, {"32GB", "64GB", "128GB"}, false, "USB flash drive", 50},
    {"무선 마우스", "EA", 8000, 45000, {"2.4GHz", "블루투스"}, false, "Wireless mouse", 20},
    {"키보드", "EA", 12000, 90000, {"유선 USB", "무선", "기계식 적축"}, false, "Keyboard", 10},
    {"멀티탭", "개", 5000, 25000, {"4구 1.5m", "6구 3m", "3구 1m"}, false, "Power strip", 20},
    {"알카라인 건전지", "세트", 3000, 9000, {"AA 4입", "AAA 4입", "AA 10입"}, false, "Alkaline batteries", 24},
    {"HDMI 케이블", "EA", 3000, 15000, {"1.5m", "3m", "5m"}, false, "HDMI cable", 50},
    {"LED 전구", "개", 3000, 9000, {"10W 주광색", "12W 전구색"}, false, "LED bulb", 20},
    {"보조배터리", "EA", 15000, 45000, {"10000mAh", "20000mAh"}, false, "Power bank", 20},
    {"유선 이어폰", "EA", 5000, 25000, {"3.5mm", "USB-C"}, false, "Earphones", 50},
};
constexpr Item kHousehold[] = {
    {"물티슈", "개", 1000, 3000, {"100매 캡형", "80매"}, false, "Wet wipes", 20},
    {"두루마리 화장지", "세트", 12000, 25000, {"30m x 30롤", "27m x 24롤"}, false, "Toilet paper", 1},
    {"주방세제", "개", 2500, 8000, {"1.2kg", "500ml 리필"}, false, "Dish soap", 12},
    {"세탁세제", "개", 8000, 25000, {"3L", "2.5kg"}, false, "Laundry detergent", 4},
    {"고무장갑", "개", 1500, 3500, {"소", "중", "대"}, false, "Rubber gloves", 50},
    {"종이컵", "박스", 15000, 30000, {"6.5oz 1000개", "9oz 1000개"}, false, "Paper cups", 1},
    {"쓰레기봉투", "박스", 8000, 20000, {"50L 100매", "20L 200매"}, false, "Trash bags", 1},
    {"핸드타월", "박스", 15000, 30000, {"5000매"}, false, "Hand towels", 1},
};

struct Category {
    const char* group;
    const char* classCode;  // the destination's own class of this group, before any run
    std::array<const char*, 6> brands;
    std::span<const Item> items;
    int weight;  // share of the catalogue, in percent
};

constexpr Category kCategories[] = {
    {"문구", "00010", {"한결", "새별", "누리", "다온", "예솔", "맑은샘"}, kStationery, 30},
    {"사무용품", "00010", {"오피스원", "바른사무", "한빛", "에이스", "다온", "제일"}, kOffice, 20},
    {"식품", "00020", {"바른들", "해담", "고향맛", "참좋은", "한울", "들녘"}, kFood, 20},
    {"전자", "00030", {"누리텍", "다온테크", "스마트링크", "한빛전자", "이노셀", "세진"}, kElectronics, 15},
    {"생활용품", "00020", {"맑음", "하얀손", "늘푸른", "홈앤", "살림", "온누리"}, kHousehold, 15},
};
// clang-format on

// The destination's classes before any run.
struct ClassRow {
    const char* code;
    const char* name;
    int used;
};
constexpr ClassRow kDestClasses[kDemoClassRows] = {
    {"00010", "문구/사무", 1},
    {"00020", "식품/생활", 1},
    {"00030", "전자제품", 0},
};

constexpr const char* kVariants[] = {" 대용량", " 리필", " 신형", " 업소용", " 기획", " 프리미엄"};
constexpr const char* kOrigins[] = {"국산",   "국산",       "국산", "중국",
                                    "베트남", "인도네시아", "일본", "미국"};
constexpr const char* kMakerSuffixes[] = {"(주)", "", " 주식회사", ""};
constexpr const char* kRemarks[] = {"행사 상품",      "단종 예정", "수입품",   "신규 입고",
                                    "가격 인상 예정", "반품 불가", "냉장 보관"};
constexpr const char* kProductNotes[] = {
    "입고 시 포장 상태를 확인하고 파손품은 즉시 반품 처리합니다.",
    "유통기한이 짧은 상품이므로 선입선출을 지켜 주십시오.",
    "거래처 요청으로 단가가 조정되었습니다.",
    "행사 기간에는 묶음 판매 가격이 적용됩니다.",
    "재고가 적정 수량 이하로 떨어지면 주거래처에 발주합니다.",
    "직사광선을 피하고 서늘한 곳에 보관하십시오.",
    "대량 주문 시 본사 승인 후 출고합니다.",
    "포장 단위가 변경되어 바코드를 새로 등록했습니다.",
    "반품은 미개봉 상품에 한하여 7일 이내 가능합니다.",
    "수입 통관 일정에 따라 입고가 늦어질 수 있습니다.",
    "매장 진열 시 앞면 라벨이 보이도록 정리해 주십시오.",
    "온라인 판매가와 매장 판매가가 다를 수 있습니다.",
};

constexpr const char* kSurnames[] = {"김", "이", "박", "최", "정", "강", "조", "윤", "장", "임",
                                     "한", "오", "서", "신", "권", "황", "안", "송", "류", "홍"};
constexpr const char* kGivenSyllables[] = {
    "민", "서", "준", "지", "현", "영", "수", "정", "호", "성", "진", "우", "은", "희", "경",
    "철", "상", "동", "혜", "재", "태", "연", "미", "승", "하", "윤", "도", "선", "용", "석"};
constexpr const char* kRomanSurnames[] = {"kim",  "lee", "park", "choi", "jung",
                                          "kang", "cho", "yoon", "jang", "lim"};
constexpr const char* kMailDomains[] = {"naver.com", "daum.net", "gmail.com", "hanmail.net",
                                        "nate.com"};
constexpr const char* kMailBoxes[] = {"sales", "order", "info", "tax", "office", "biz"};

constexpr const char* kNameStems[] = {
    "한빛", "대성", "세진", "미래", "동양",   "삼정",   "우리", "새한", "태평", "금강",
    "대원", "성우", "신성", "나라", "해오름", "푸른솔", "다온", "가람", "으뜸", "한마음",
    "제일", "동방", "청운", "보람", "명성",   "서해",   "남도", "중앙", "백두", "한울"};
struct Business {
    const char* suffix;
    const char* uptae;
    const char* jongmok;
};
constexpr Business kBusinesses[] = {
    {"상사", "도소매", "문구, 사무용품"},
    {"유통", "도소매", "생활용품"},
    {"문구", "소매", "문구"},
    {"식품", "도매", "식품, 음료"},
    {"전자", "도소매", "전자부품, 컴퓨터"},
    {"산업", "제조", "플라스틱 제품"},
    {"무역", "도매", "수출입"},
    {"물산", "도소매", "잡화"},
    {"마트", "소매", "종합소매"},
    {"오피스", "도소매", "사무기기, 복사용지"},
    {"테크", "서비스", "소프트웨어 개발"},
    {"푸드", "제조", "가공식품"},
    {"인쇄", "제조", "인쇄, 출판"},
};
constexpr const char* kBranches[] = {" 본점", " 강남점", " 2공장", " 물류센터", " 지점"};

struct City {
    const char* name;
    const char* area;  // short name, as the destination's Area column holds it
    const char* phone;
    int zipLo;
    int zipHi;
    std::array<const char*, 6> districts;
    int weight;
};
// clang-format off
constexpr City kCities[] = {
    {"서울특별시", "서울", "02", 1000, 8999, {"강남구", "마포구", "송파구", "영등포구", "종로구", "구로구"}, 30},
    {"부산광역시", "부산", "051", 46000, 49999, {"해운대구", "부산진구", "사상구", "동래구", "남구", "사하구"}, 8},
    {"대구광역시", "대구", "053", 41000, 43999, {"수성구", "달서구", "북구", "중구", "동구", "서구"}, 5},
    {"인천광역시", "인천", "032", 21000, 23999, {"남동구", "부평구", "연수구", "서구", "미추홀구", "계양구"}, 6},
    {"광주광역시", "광주", "062", 61000, 62999, {"북구", "서구", "광산구", "남구", "동구", "북구"}, 3},
    {"대전광역시", "대전", "042", 34000, 35999, {"유성구", "서구", "중구", "대덕구", "동구", "유성구"}, 3},
    {"울산광역시", "울산", "052", 44000, 45999, {"남구", "중구", "북구", "동구", "울주군", "남구"}, 2},
    {"세종특별자치시", "세종", "044", 30000, 30199, {"조치원읍", "보람동", "나성동", "도담동", "어진동", "한솔동"}, 1},
    {"경기도", "경기", "031", 10000, 18999, {"수원시 팔달구", "성남시 분당구", "고양시 일산동구", "용인시 기흥구", "부천시", "안산시 단원구"}, 22},
    {"강원도", "강원", "033", 24000, 26999, {"춘천시", "원주시", "강릉시", "속초시", "동해시", "삼척시"}, 2},
    {"충청북도", "충북", "043", 27000, 29999, {"청주시 흥덕구", "충주시", "제천시", "음성군", "진천군", "청주시 상당구"}, 2},
    {"충청남도", "충남", "041", 31000, 33999, {"천안시 서북구", "아산시", "서산시", "당진시", "공주시", "논산시"}, 3},
    {"전라북도", "전북", "063", 54000, 56999, {"전주시 완산구", "익산시", "군산시", "정읍시", "남원시", "김제시"}, 2},
    {"전라남도", "전남", "061", 57000, 59999, {"목포시", "여수시", "순천시", "나주시", "광양시", "무안군"}, 2},
    {"경상북도", "경북", "054", 36000, 40999, {"포항시 북구", "구미시", "경주시", "안동시", "김천시", "경산시"}, 3},
    {"경상남도", "경남", "055", 50000, 53999, {"창원시 성산구", "김해시", "진주시", "양산시", "거제시", "통영시"}, 5},
    {"제주특별자치도", "제주", "064", 63000, 63644, {"제주시", "서귀포시", "제주시", "제주시", "서귀포시", "제주시"}, 1},
};
// clang-format on
constexpr const char* kRoads[] = {"중앙로", "번영로", "시청로",   "산업로", "공단로", "문화로",
                                  "역전로", "대학로", "신촌로",   "평화로", "경인로", "충장로",
                                  "구암로", "동문로", "새마을로", "희망로"};
constexpr const char* kAddr2[] = {"2층",       "3층",        "1층 101호", "지하 1층",
                                  "B동 201호", "상가 105호", "5층 502호"};

struct Bank {
    const char* name;
    const char* pattern;  // '#' is a digit
};
constexpr Bank kBanks[] = {
    {"국민은행", "######-##-######"}, {"신한은행", "###-###-######"},
    {"우리은행", "####-###-######"},  {"하나은행", "###-######-#####"},
    {"농협은행", "###-####-####-##"}, {"기업은행", "###-######-##-###"},
};
constexpr const char* kTraderNotes[] = {
    "월말 결제",         "현금 거래만 가능", "세금계산서 이메일 발행", "매월 25일 정산",
    "배송 전 연락 요망", "신규 거래처",      "어음 결제 (60일)",       "담당자 변경됨"};

template <class T, size_t N>
const T& PickWeighted(Rng& rng, const T (&items)[N]) {
    int total = 0;
    for (const T& item : items) {
        total += item.weight;
    }
    int roll = static_cast<int>(rng.Below(static_cast<uint64_t>(total)));
    for (const T& item : items) {
        roll -= item.weight;
        if (roll < 0) {
            return item;
        }
    }
    return items[N - 1];
}

// ---------------------------------------------------------------------------------------------
// Small formatting helpers, on UTF-8 std::string so that a million rows stay cheap.

void AppendNumber(std::string& out, int64_t v, int width = 0) {
    char buf[32];
    const int n = std::snprintf(buf, sizeof buf, "%0*lld", width, static_cast<long long>(v));
    out.append(buf, static_cast<size_t>(n));
}

std::string Code(char prefix, int64_t number, int width) {
    std::string code(1, prefix);
    AppendNumber(code, number, width);
    return code;
}

int Digits(int64_t n) {
    int digits = 1;
    while (n >= 10) {
        n /= 10;
        ++digits;
    }
    return digits;
}

// Product codes take at least six digits and trader codes five, more when the count needs them.
int ProductCodeWidth(int64_t count) {
    return std::max(6, Digits(count));
}
int TraderCodeWidth(int64_t count) {
    return std::max(5, Digits(count));
}

std::string Pattern(Rng& rng, const char* pattern) {
    std::string out;
    for (const char* p = pattern; *p; ++p) {
        out += *p == '#' ? rng.Digit() : *p;
    }
    return out;
}

double RoundTo(double v, double step) {
    return std::round(v / step) * step;
}

// Dates as 'YYYY-MM-DD' texts, from 2015 to 2024.
class DateTexts {
public:
    DateTexts() {
        const QDate first(2015, 1, 1);
        const QDate last(2024, 12, 31);
        for (QDate d = first; d <= last; d = d.addDays(1)) {
            texts_.push_back(d.toString(Qt::ISODate).toStdString());
        }
    }
    int Count() const { return static_cast<int>(texts_.size()); }
    const std::string& At(int day) const { return texts_[static_cast<size_t>(day)]; }

private:
    std::vector<std::string> texts_;
};

const DateTexts& Dates() {
    static const DateTexts dates;
    return dates;
}

std::string PersonName(Rng& rng) {
    std::string name = rng.Pick(kSurnames);
    name += rng.Pick(kGivenSyllables);
    name += rng.Pick(kGivenSyllables);
    return name;
}

// An EAN-13 barcode under Korea's prefix 880, with its check digit.
std::string Barcode(Rng& rng) {
    std::string code = "880";
    for (int i = 0; i < 9; ++i) {
        code += rng.Digit();
    }
    int sum = 0;
    for (int i = 0; i < 12; ++i) {
        sum += (code[static_cast<size_t>(i)] - '0') * (i % 2 ? 3 : 1);
    }
    code += static_cast<char>('0' + (10 - sum % 10) % 10);
    return code;
}

// A business registration number ###-##-##### whose last digit is the check digit.
std::string BusinessNumber(Rng& rng, bool corporation) {
    int d[10];
    const int office = rng.Between(101, 899);
    d[0] = office / 100;
    d[1] = office / 10 % 10;
    d[2] = office % 10;
    static constexpr int kCorporate[] = {81, 86, 87, 88};
    const int kind = corporation ? rng.Pick(kCorporate) : rng.Between(1, 79);
    d[3] = kind / 10;
    d[4] = kind % 10;
    for (int i = 5; i < 9; ++i) {
        d[i] = static_cast<int>(rng.Below(10));
    }
    static constexpr int kWeights[] = {1, 3, 7, 1, 3, 7, 1, 3, 5};
    int sum = 0;
    for (int i = 0; i < 9; ++i) {
        sum += d[i] * kWeights[i];
    }
    sum += d[8] * 5 / 10;
    d[9] = (10 - sum % 10) % 10;
    std::string out;
    for (int i = 0; i < 10; ++i) {
        if (i == 3 || i == 5) {
            out += '-';
        }
        out += static_cast<char>('0' + d[i]);
    }
    return out;
}

std::string Phone(Rng& rng, const char* area) {
    std::string phone = area;
    phone += '-';
    const int exchange = rng.Percent(70) ? rng.Between(2000, 9899) : rng.Between(200, 999);
    AppendNumber(phone, exchange);
    phone += '-';
    AppendNumber(phone, rng.Between(0, 9999), 4);
    return phone;
}

std::string Mobile(Rng& rng) {
    std::string phone = "010-";
    AppendNumber(phone, rng.Between(2000, 9999), 4);
    phone += '-';
    AppendNumber(phone, rng.Between(0, 9999), 4);
    return phone;
}

std::string Email(Rng& rng) {
    std::string mail;
    if (rng.Percent(40)) {
        mail = rng.Pick(kMailBoxes);
        AppendNumber(mail, rng.Between(1, 999));
    } else {
        mail = rng.Pick(kRomanSurnames);
        mail += rng.Percent(50) ? "." : "";
        mail += static_cast<char>('a' + rng.Below(26));
        mail += static_cast<char>('a' + rng.Below(26));
        AppendNumber(mail, rng.Between(1, 99));
    }
    mail += '@';
    mail += rng.Pick(kMailDomains);
    return mail;
}

// ---------------------------------------------------------------------------------------------
// Rows.

struct ProductRow {
    std::string code, name, stand, unit;
    std::optional<std::string> barcode;
    std::string groupname;
    std::optional<std::string> maker, origin;
    double inprice = 0, outprice = 0, outprice2 = 0, outprice3 = 0;
    int64_t taxkind = 1, stock = 0, safestock = 0, boxqty = 1;
    std::optional<double> weight;
    std::optional<std::string> location, maincust;
    std::optional<std::string> lastindate, lastoutdate, regdate, moddate;
    double dcrate = 0;
    int64_t useyn = 1, sortno = 0;
    std::optional<std::string> remark, engname, imagefile, memo;
    const Category* category = nullptr;  // not a column: the destination's class comes from it
};

// Binds in the order of kSourceProduct.
void PutProduct(Insert& insert, const ProductRow& r) {
    insert.Put(r.code).Put(r.name).Put(r.stand).Put(r.unit).Put(r.barcode).Put(r.groupname);
    insert.Put(r.maker).Put(r.origin);
    insert.Put(r.inprice).Put(r.outprice).Put(r.outprice2).Put(r.outprice3);
    insert.Put(r.taxkind).Put(r.stock).Put(r.safestock).Put(r.boxqty).Put(r.weight);
    insert.Put(r.location).Put(r.maincust);
    insert.Put(r.lastindate).Put(r.lastoutdate).Put(r.regdate).Put(r.moddate);
    insert.Put(r.dcrate).Put(r.useyn).Put(r.sortno);
    insert.Put(r.remark).Put(r.engname).Put(r.imagefile).Put(r.memo);
}

class ProductMaker {
public:
    ProductMaker(uint64_t seed, char prefix, int64_t count, char traderPrefix, int64_t traders,
                 bool longMemo)
        : rng_(seed),
          prefix_(prefix),
          width_(ProductCodeWidth(count)),
          traderPrefix_(traderPrefix),
          traders_(traders),
          traderWidth_(TraderCodeWidth(traders)),
          longMemo_(longMemo) {}

    void Make(int64_t index, ProductRow& r) {
        const Category& cat = PickWeighted(rng_, kCategories);
        const Item& item = cat.items[rng_.Below(cat.items.size())];
        const char* brand = rng_.Pick(cat.brands);
        r.category = &cat;

        r.code = Code(prefix_, index + 1, width_);
        r.name = brand;
        r.name += ' ';
        r.name += item.name;
        if (cat.items.data() == kElectronics && rng_.Percent(50)) {
            r.name += ' ';
            r.name += static_cast<char>('A' + rng_.Below(26));
            r.name += static_cast<char>('A' + rng_.Below(26));
            r.name += '-';
            AppendNumber(r.name, rng_.Between(100, 9900));
        } else if (rng_.Percent(15)) {
            r.name += rng_.Pick(kVariants);
        }
        size_t standCount = 0;
        while (standCount < item.stands.size() && item.stands[standCount]) {
            ++standCount;
        }
        r.stand = rng_.Percent(5) ? "" : item.stands[rng_.Below(standCount)];
        // Some units are empty, as in real source data; every 25th row for sure, so that even a
        // small file has them.
        r.unit = index % 25 == 3 || rng_.Percent(2) ? "" : item.unit;
        r.barcode = rng_.Percent(70) ? std::optional(Barcode(rng_)) : std::nullopt;
        r.groupname = cat.group;
        if (rng_.Percent(80)) {
            r.maker = std::string(brand) + rng_.Pick(kMakerSuffixes);
        } else {
            r.maker.reset();
        }
        r.origin = rng_.Percent(85)
                       ? std::optional<std::string>(item.taxFree ? "국산" : rng_.Pick(kOrigins))
                       : std::nullopt;

        r.outprice = RoundTo(rng_.Between(item.minPrice, item.maxPrice), 10);
        r.inprice = std::round(r.outprice * rng_.Between(60, 85) / 100.0 * 10.0) / 10.0;
        r.outprice2 = RoundTo(r.outprice * 0.92, 10);
        r.outprice3 = RoundTo(r.outprice * 1.15, 100);
        r.taxkind = item.taxFree ? 0 : 1;
        r.stock = rng_.Percent(5) ? -rng_.Between(1, 20) : rng_.Between(0, 500);
        r.safestock = rng_.Percent(40) ? 0 : rng_.Between(1, 50);
        r.boxqty = item.boxQty;
        r.weight = rng_.Percent(50) ? std::optional(rng_.Between(1, 2000) / 100.0) : std::nullopt;
        if (rng_.Percent(40)) {
            std::string loc(1, static_cast<char>('A' + rng_.Below(6)));
            loc += '-';
            AppendNumber(loc, rng_.Between(1, 30), 2);
            loc += '-';
            AppendNumber(loc, rng_.Between(1, 8), 2);
            r.location = std::move(loc);
        } else {
            r.location.reset();
        }
        if (traders_ > 0 && rng_.Percent(60)) {
            r.maincust =
                Code(traderPrefix_, 1 + rng_.Below(static_cast<uint64_t>(traders_)), traderWidth_);
        } else {
            r.maincust.reset();
        }

        const DateTexts& dates = Dates();
        const int reg = rng_.Between(0, dates.Count() - 400);
        r.regdate = dates.At(reg);
        const int in = reg + rng_.Between(0, dates.Count() - 1 - reg);
        r.lastindate = rng_.Percent(85) ? std::optional(dates.At(in)) : std::nullopt;
        r.lastoutdate = r.lastindate && rng_.Percent(80)
                            ? std::optional(dates.At(in + rng_.Between(0, dates.Count() - 1 - in)))
                            : std::nullopt;
        r.moddate = rng_.Percent(50) ? std::optional(dates.At(in)) : std::nullopt;

        static constexpr double kRates[] = {0, 0, 0, 0, 5, 10, 15};
        r.dcrate = rng_.Pick(kRates);
        r.useyn = rng_.Percent(95) ? 1 : 0;
        r.sortno = index + 1;
        r.remark =
            rng_.Percent(20) ? std::optional<std::string>(rng_.Pick(kRemarks)) : std::nullopt;
        r.engname = rng_.Percent(20) ? std::optional<std::string>(item.english) : std::nullopt;
        r.imagefile = rng_.Percent(10) ? std::optional(r.code + ".jpg") : std::nullopt;
        if (longMemo_) {
            r.memo = LongMemo(r, dates);
        } else if (rng_.Percent(25)) {
            r.memo = rng_.Pick(kProductNotes);
        } else {
            r.memo.reset();
        }
    }

private:
    // A few hundred characters of notes, with a dated price line, as long-lived products gather.
    std::string LongMemo(const ProductRow& r, const DateTexts& dates) {
        std::string memo;
        const size_t target = 300 + rng_.Below(600);  // bytes; about 100 to 300 characters
        while (memo.size() < target) {
            if (!memo.empty()) {
                memo += rng_.Percent(30) ? "\r\n" : " ";
            }
            if (rng_.Percent(20)) {
                memo += dates.At(rng_.Between(0, dates.Count() - 1));
                memo += " 단가 변경 (이전 매입가 ";
                AppendNumber(memo, static_cast<int64_t>(r.inprice * rng_.Between(80, 99) / 100));
                memo += "원).";
            } else {
                memo += rng_.Pick(kProductNotes);
            }
        }
        return memo;
    }

    Rng rng_;
    char prefix_;
    int width_;
    char traderPrefix_;
    int64_t traders_;
    int traderWidth_;
    bool longMemo_;
};

struct TraderRow {
    std::string code, name;
    std::optional<std::string> boss, bizno, uptae, jongmok;
    int64_t kind = 0;
    std::optional<std::string> zipcode, addr1, addr2, tel, fax, hphone, email, uName, bank, account;
    double creditlimit = 0, balance = 0;
    std::optional<std::string> regdate, lastdate;
    int64_t useyn = 1;
    std::optional<std::string> memo;
    const City* city = nullptr;  // not a column: the destination's Area comes from it
};

// Binds in the order of kSourceTrader.
void PutTrader(Insert& insert, const TraderRow& r) {
    insert.Put(r.code).Put(r.name).Put(r.boss).Put(r.bizno).Put(r.uptae).Put(r.jongmok);
    insert.Put(r.kind).Put(r.zipcode).Put(r.addr1).Put(r.addr2).Put(r.tel).Put(r.fax);
    insert.Put(r.hphone).Put(r.email).Put(r.uName).Put(r.bank).Put(r.account);
    insert.Put(r.creditlimit).Put(r.balance).Put(r.regdate).Put(r.lastdate).Put(r.useyn);
    insert.Put(r.memo);
}

class TraderMaker {
public:
    TraderMaker(uint64_t seed, char prefix, int64_t count)
        : rng_(seed), prefix_(prefix), width_(TraderCodeWidth(count)) {}

    void Make(int64_t index, TraderRow& r) {
        const Business& biz = rng_.Pick(kBusinesses);
        const City& city = PickWeighted(rng_, kCities);
        r.city = &city;

        r.code = Code(prefix_, index + 1, width_);
        const int form = rng_.Between(0, 99);
        const bool corporation = form < 45;
        r.name.clear();
        if (form < 35) {
            r.name = "(주)";
        }
        r.name += rng_.Pick(kNameStems);
        r.name += biz.suffix;
        if (form >= 35 && form < 45) {
            r.name += "(주)";
        } else if (form >= 95) {
            r.name += rng_.Pick(kBranches);
        }
        r.boss = PersonName(rng_);
        r.bizno =
            rng_.Percent(97) ? std::optional(BusinessNumber(rng_, corporation)) : std::nullopt;
        r.uptae = biz.uptae;
        r.jongmok = biz.jongmok;
        const int kind = rng_.Between(0, 9);
        r.kind = kind < 5 ? 0 : kind < 8 ? 1 : 2;

        std::string zip;
        AppendNumber(zip, rng_.Between(city.zipLo, city.zipHi), 5);
        r.zipcode = std::move(zip);
        std::string addr = city.name;
        addr += ' ';
        addr += rng_.Pick(city.districts);
        addr += ' ';
        addr += rng_.Pick(kRoads);
        if (rng_.Percent(40)) {
            AppendNumber(addr, rng_.Between(1, 120));
            addr += "번길";
        }
        addr += ' ';
        AppendNumber(addr, rng_.Between(1, 350));
        if (rng_.Percent(20)) {
            addr += '-';
            AppendNumber(addr, rng_.Between(1, 30));
        }
        r.addr1 = std::move(addr);
        r.addr2 = rng_.Percent(70) ? std::optional<std::string>(rng_.Pick(kAddr2)) : std::nullopt;
        r.tel = Phone(rng_, city.phone);
        r.fax = rng_.Percent(60) ? std::optional(Phone(rng_, city.phone)) : std::nullopt;
        // Some traders have no mobile number; every 8th row for sure, so that even a small file
        // has them.
        r.hphone = index % 8 == 5 || rng_.Percent(8) ? std::nullopt : std::optional(Mobile(rng_));
        r.email = rng_.Percent(75) ? std::optional(Email(rng_)) : std::nullopt;
        r.uName = rng_.Percent(90) ? std::optional(PersonName(rng_)) : std::nullopt;
        if (rng_.Percent(60)) {
            const Bank& bank = rng_.Pick(kBanks);
            r.bank = bank.name;
            r.account = Pattern(rng_, bank.pattern);
        } else {
            r.bank.reset();
            r.account.reset();
        }
        r.creditlimit = rng_.Percent(50) ? 0.0 : rng_.Between(1, 50) * 1000000.0;
        r.balance = rng_.Percent(30) ? 0.0 : RoundTo(rng_.Between(10000, 30000000), 10);

        const DateTexts& dates = Dates();
        const int reg = rng_.Between(0, dates.Count() - 1);
        r.regdate = dates.At(reg);
        r.lastdate = rng_.Percent(70)
                         ? std::optional(dates.At(reg + rng_.Between(0, dates.Count() - 1 - reg)))
                         : std::nullopt;
        r.useyn = rng_.Percent(97) ? 1 : 0;
        r.memo =
            rng_.Percent(20) ? std::optional<std::string>(rng_.Pick(kTraderNotes)) : std::nullopt;
    }

private:
    Rng rng_;
    char prefix_;
    int width_;
};

// ---------------------------------------------------------------------------------------------
// Files.

// Builds a database under a temporary name next to `path` and moves it over `path` only when it
// is complete, so that a failure never leaves a half-written file where the tool would find it.
class FreshFile {
public:
    explicit FreshFile(const QString& path) : path_(QFileInfo(path).absoluteFilePath()) {
        if (!QDir().mkpath(QFileInfo(path_).absolutePath())) {
            Fail("cannot create the folder of " + Local(path_));
        }
        temp_ = path_ + QStringLiteral(".part");
        RemoveWithCompanions(temp_);
    }
    ~FreshFile() {
        if (!committed_) {
            RemoveWithCompanions(temp_);
        }
    }
    FreshFile(const FreshFile&) = delete;
    FreshFile& operator=(const FreshFile&) = delete;

    const QString& Temp() const { return temp_; }

    void Commit() {
        // A journal left beside an old file would be rolled back into the new one.
        for (const char* companion : {"-journal", "-wal", "-shm"}) {
            QFile::remove(path_ + QLatin1String(companion));
        }
        std::error_code ec;
        std::filesystem::rename(Local(temp_), Local(path_), ec);
        if (ec) {
            Fail("cannot replace " + Local(path_) + ": " + ec.message());
        }
        committed_ = true;
    }

private:
    static void RemoveWithCompanions(const QString& path) {
        QFile::remove(path);
        for (const char* companion : {"-journal", "-wal", "-shm"}) {
            QFile::remove(path + QLatin1String(companion));
        }
    }

    QString path_;
    QString temp_;
    bool committed_ = false;
};

void CheckSize(const DemoSize& size) {
    if (size.products < 0 || size.traders < 0 || size.products > 100'000'000 ||
        size.traders > 100'000'000) {
        Fail("row counts must be between 0 and 100,000,000");
    }
}

// Nothing else uses the new file while it is written, so nothing needs the journal or syncing;
// the whole file is one transaction and is moved into place only when complete.
void BeginBulkWrite(Db& db) {
    db.Exec(
        "PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF; PRAGMA locking_mode = EXCLUSIVE;"
        "PRAGMA temp_store = MEMORY; PRAGMA cache_size = -65536; BEGIN");
}

void CreateTable(Db& db, const char* table, std::span<const Column> columns) {
    db.Exec(CreateTableSql(table, columns));
}

void WriteDbInfo(Db& db, const char* program, const char* version) {
    CreateTable(db, "dbinfo", kDbInfo);
    Insert info(db, "INSERT INTO dbinfo (item, value) VALUES (?, ?)");
    info.Put("program").Put(program).Run();
    info.Put("dbversion").Put(version).Run();
    info.Put("created").Put("2019-03-04").Run();
}

}  // namespace

void WriteSourceDatabase(const QString& path, const DemoSize& size, uint32_t seed) {
    CheckSize(size);
    FreshFile file(path);
    {
        Db db(file.Temp());
        BeginBulkWrite(db);

        CreateTable(db, "product", kSourceProduct);
        CreateTable(db, "trader", kSourceTrader);
        CreateTable(db, "company", kSourceCompany);
        WriteDbInfo(db, "Dorvik", "3.15");

        {
            Insert insert(db, InsertSql("product", Names(kSourceProduct)));
            ProductMaker maker(StreamSeed(seed, 1), 'P', size.products, 'T', size.traders,
                               size.longMemo);
            ProductRow row;
            for (int64_t i = 0; i < size.products; ++i) {
                maker.Make(i, row);
                PutProduct(insert, row);
                insert.Run();
            }
        }
        {
            Insert insert(db, InsertSql("trader", Names(kSourceTrader)));
            TraderMaker maker(StreamSeed(seed, 2), 'T', size.traders);
            TraderRow row;
            for (int64_t i = 0; i < size.traders; ++i) {
                maker.Make(i, row);
                PutTrader(insert, row);
                insert.Run();
            }
        }
        {
            // The user's own business, as the source product keeps it.
            TraderMaker maker(StreamSeed(seed, 3), 'M', 1);
            TraderRow me;
            maker.Make(0, me);
            Insert insert(db, InsertSql("company", Names(kSourceCompany)));
            insert.Put("0001").Put(me.name).Put(me.boss).Put(me.bizno).Put(me.uptae);
            insert.Put(me.jongmok).Put(me.addr1).Put(me.tel).Put(me.fax).Put(me.email).Run();
        }
        // No secondary indexes here: the tool reads the source tables whole, in key order, and
        // building them would double the time a million-row file takes.
        db.Exec("COMMIT");
    }
    file.Commit();
}

void WriteDestDatabase(const QString& path, const DemoSize& size, uint32_t seed) {
    CheckSize(size);
    FreshFile file(path);
    {
        Db db(file.Temp());
        BeginBulkWrite(db);

        CreateTable(db, "Product", kDestProduct);
        CreateTable(db, "pclass", kDestClass);
        CreateTable(db, "Trader", kDestTrader);
        CreateTable(db, "Company", kDestCompany);
        WriteDbInfo(db, "SolvanePlus", "2.0.7");

        {
            Insert insert(db, InsertSql("pclass", std::array{"Code", "ClassName", "Used",
                                                             "ParentCode", "SortNo"}));
            int sort = 0;
            for (const ClassRow& c : kDestClasses) {
                insert.Put(c.code).Put(c.name).Put(c.used).Put("").Put(++sort).Run();
            }
        }
        // The rows the destination already holds carry the values its own program gave them,
        // which differ from what a run writes, so that a run visibly replaces them.
        {
            Insert insert(db, InsertSql("Product", Concat(Names(kSourceProduct), kDestProductOwn)));
            ProductMaker maker(StreamSeed(seed, 11), 'A', size.products, 'C', size.traders,
                               size.longMemo);
            Rng own(StreamSeed(seed, 12));
            ProductRow row;
            for (int64_t i = 0; i < size.products; ++i) {
                maker.Make(i, row);
                PutProduct(insert, row);
                insert.Put(row.category->classCode).Put(row.taxkind).Put(own.Percent(70) ? 1 : 0);
                if (own.Percent(20)) {
                    insert.Put(Barcode(own));
                } else {
                    insert.PutNull();
                }
                insert.Put(own.Between(0, 2)).PutNull().PutNull().PutNull();
                insert.Run();
            }
        }
        {
            Insert insert(db, InsertSql("Trader", Concat(Names(kSourceTrader), kDestTraderOwn)));
            TraderMaker maker(StreamSeed(seed, 13), 'C', size.traders);
            Rng own(StreamSeed(seed, 14));
            TraderRow row;
            static constexpr double kDiscounts[] = {0, 0, 3, 5};
            for (int64_t i = 0; i < size.traders; ++i) {
                maker.Make(i, row);
                PutTrader(insert, row);
                insert.Put(own.Between(0, 2)).PutNull().Put(row.city->area);
                insert.Put(own.Between(1, 3)).Put(own.Pick(kDiscounts));
                insert.Put(own.Percent(10) ? 1 : 0);
                if (own.Percent(15)) {
                    std::string home = "www.";
                    home += own.Pick(kRomanSurnames);
                    AppendNumber(home, own.Between(1, 999));
                    home += ".co.kr";
                    insert.Put(std::move(home));
                } else {
                    insert.PutNull();
                }
                insert.Run();
            }
        }
        {
            TraderMaker maker(StreamSeed(seed, 15), 'M', 1);
            TraderRow me;
            maker.Make(0, me);
            Insert insert(db, InsertSql("Company", Names(kDestCompany)));
            insert.Put(1).Put(me.name).Put(me.boss).Put(me.bizno).Put(me.uptae).Put(me.jongmok);
            insert.Put(me.addr1).Put(me.tel).Put(me.fax).Put(me.email).Put(1).Run();
        }
        // Built once the rows are in, which is far quicker than keeping them in order through
        // every insert. The copy has to maintain them, as it would in the real product.
        db.Exec("CREATE INDEX IX_Product_Name ON Product (Name)");
        db.Exec("CREATE INDEX IX_Trader_Name ON Trader (Name)");
        db.Exec("COMMIT");
    }
    file.Commit();
}

QString DemoSettingsFile(const QString& configHome, const QString& application) {
    return QDir(configHome)
        .absoluteFilePath(SettingsOrganization() + QLatin1Char('/') + application +
                          QStringLiteral(".conf"));
}

namespace {

// On Linux QSettings keeps a user's native settings as an INI file at exactly this path, so the
// file written here is the one the tool reads once XDG_CONFIG_HOME names `configHome`. Writing
// it by its path leaves QSettings' process-wide default paths alone.
void WriteFolderSetting(const QString& configHome, const QString& application,
                        const QString& folder) {
    const QString file = DemoSettingsFile(configHome, application);
    if (!QDir().mkpath(QFileInfo(file).absolutePath())) {
        Fail("cannot create the folder of " + Local(file));
    }
    const QString key = SettingsSection() + QLatin1Char('/') + SettingsKey();
    {
        QSettings settings(file, QSettings::IniFormat);
        settings.clear();
        settings.setValue(key, folder);
        settings.sync();
        if (settings.status() != QSettings::NoError) {
            Fail("cannot write " + Local(file));
        }
    }
    QSettings back(file, QSettings::IniFormat);
    if (back.status() != QSettings::NoError || back.value(key).toString() != folder) {
        Fail("the setting in " + Local(file) + " reads back differently");
    }
}

}  // namespace

void WriteDemoSettings(const QString& configHome, const QString& sourceFolder,
                       const QString& destFolder) {
    WriteFolderSetting(configHome, SourceSettingsApp(), sourceFolder);
    WriteFolderSetting(configHome, DestSettingsApp(), destFolder);
}

int64_t CountDemoRows(const QString& path, const QString& table, const QString& where) {
    sqlite3* db = nullptr;
    const std::string name = Local(path);
    if (sqlite3_open_v2(name.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        Fail("cannot open " + name);
    }
    std::string sql = "SELECT count(*) FROM \"" + table.toStdString() + "\"";
    if (!where.isEmpty()) {
        sql += " WHERE " + where.toStdString();
    }
    sqlite3_stmt* stmt = nullptr;
    int64_t count = -1;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK &&
        sqlite3_step(stmt) == SQLITE_ROW) {
        count = sqlite3_column_int64(stmt, 0);
    }
    const std::string message = sqlite3_errmsg(db);
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    if (count < 0) {
        Fail(name + ": " + message);
    }
    return count;
}
