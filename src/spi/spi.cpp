#include "spi/spi.h"

#include "picture/picture.h"
#include "platform/directories.h"
#include "platform/file_names.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <algorithm>
#include <atomic>
#include <bit>
#include <cerrno>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <mutex>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace sorowa {
namespace {

const TGraphicClass*& GraphicClassValue() {
    static const TGraphicClass* value = nullptr;
    return value;
}

TSPIs*& InstanceValue() {
    static TSPIs* value = nullptr;
    return value;
}

// Info texts are read into a buffer much larger than the 256 bytes the plug-in is told of;
// the rest is a guard that shows a plug-in writing past what it was given.
constexpr std::size_t kInfoBuffer = 256;
constexpr std::size_t kInfoGuard = 4096;
constexpr unsigned char kGuardByte = 0xA5;

QString WithSlash(QString directory) {
    if (!directory.endsWith(u'/')) directory += u'/';
    return directory;
}

QString ExtensionFrom(const QString& name) {
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot < 0 ? QString() : name.mid(dot);
}

bool SameAsciiCase(const QString& a, const QString& b) {
    if (a.size() != b.size()) return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        char16_t x = a[i].unicode(), y = b[i].unicode();
        if (x >= u'A' && x <= u'Z') x = static_cast<char16_t>(x + 32);
        if (y >= u'A' && y <= u'Z') y = static_cast<char16_t>(y + 32);
        if (x != y) return false;
    }
    return true;
}

[[noreturn]] void ThrowInvalidAPI(const char* entry, const QString& fileName) {
    throw ESPIInvalidAPI(QStringLiteral("%1は[%2]では使えないSusie Plugin APIです")
                             .arg(QString::fromLatin1(entry), fileName));
}

} // namespace

bool TSPIClass::InheritsFrom(const TSPIClass& other) const {
    for (const TSPIClass* c = this; c != nullptr; c = c->parent)
        if (c == &other) return true;
    return false;
}

const TSPIClass TSPI::Class{"TSPI", nullptr, &TSPI::Create<TSPI>};
const TSPIClass TLoaderSPI::Class{"TLoaderSPI", &TSPI::Class, nullptr};
const TSPIClass TInSPI::Class{"TInSPI", &TLoaderSPI::Class, &TSPI::Create<TInSPI>};
const TSPIClass TAmSPI::Class{"TAmSPI", &TLoaderSPI::Class, &TSPI::Create<TAmSPI>};
const TSPIClass TXnSPI::Class{"TXnSPI", &TSPI::Class, &TSPI::Create<TXnSPI>};

const TGraphicClass* GraphicClass() {
    return GraphicClassValue();
}
void SetGraphicClass(const TGraphicClass* graphicClass) {
    GraphicClassValue() = graphicClass;
}

QString SusieDirectory() {
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Velmaris"),
                       QStringLiteral("Susie"));
    if (settings.status() != QSettings::NoError) return {};
    const QVariant value = settings.value(QStringLiteral("Plug-in/Path"));
    if (value.typeId() != QMetaType::QString) return {};
    return value.toString();
}

// ---- TLibrary ---------------------------------------------------------------------------

namespace spi {

namespace {

// Why a file or folder that a plug-in comes from could hold another's code: written by
// someone other than the user or root, or writable by others. Empty when it is trusted.
QString DistrustOf(const struct stat& info) {
    if (info.st_uid != 0 && info.st_uid != ::geteuid())
        return QStringLiteral("所有者が root でもこのユーザーでもありません");
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return QStringLiteral("ほかのユーザーも書き換えられます");
    return {};
}

// Said once per file and run, on the log: a folder of plug-ins is searched at every start,
// and a box each time would be a nuisance, not a warning.
void ReportSkipped(const QString& path, const QString& reason) {
    static std::mutex mutex;
    static std::set<QString> said;
    const std::lock_guard lock(mutex);
    if (!said.insert(path).second) return;
    qWarning("%s",
             qUtf8Printable(
                 QStringLiteral("sorowa: プラグイン %1 は読み込みません：%2").arg(path, reason)));
}

// The loader knows a library by every name it was ever opened under, and /proc/self/fd/N
// names, once N is closed and given to another plug-in's file, would bring back the first
// library. So each load gets a name of its own for the descriptor: "./" and "/" spell the
// load's number in binary between /proc/self/fd/ and N, all naming the same entry.
void* OpenByDescriptor(int fd) {
    static std::atomic<unsigned> loads{0};
    const unsigned load = ++loads;
    std::string name = "/proc/self/fd/";
    for (int bit = 31 - std::countl_zero(load); bit >= 0; --bit)
        name += ((load >> bit) & 1) != 0 ? "./" : "/";
    name += std::to_string(fd);
    void* handle = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    ::close(fd);
    return handle;
}

} // namespace

TLibrary::~TLibrary() {
    if (handle_ != nullptr) dlclose(handle_);
}

bool TLibrary::Load(const QString& path) {
    const std::string encoded = platform::EncodeFileName(path);
    // The plug-in's code runs as the user. It is opened once, never through a link, checked
    // through that descriptor and loaded from it, so no other file can take its place
    // between the check and the load; O_NONBLOCK, since a FIFO would block the open.
    const int fd = ::open(encoded.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ELOOP) ReportSkipped(path, QStringLiteral("シンボリックリンクです"));
        return false;
    }
    struct stat info {};
    QString distrust;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return false;
    }
    distrust = DistrustOf(info);
    if (distrust.isEmpty()) {
        const QString folder = QFileInfo(path).absolutePath();
        struct stat folderInfo {};
        if (::stat(platform::EncodeFileName(folder).c_str(), &folderInfo) != 0)
            distrust = QStringLiteral("フォルダ %1 を調べられません").arg(folder);
        else if (const QString why = DistrustOf(folderInfo); !why.isEmpty())
            distrust = QStringLiteral("フォルダ %1 は%2").arg(folder, why);
    }
    if (!distrust.isEmpty()) {
        ::close(fd);
        ReportSkipped(path, distrust);
        return false;
    }
    handle_ = OpenByDescriptor(fd);
    if (handle_ != nullptr) path_ = path;
    return handle_ != nullptr;
}

void* TLibrary::Symbol(const char* name) const {
    return handle_ != nullptr ? dlsym(handle_, name) : nullptr;
}

QString TLibrary::ModulePath() const {
    return handle_ != nullptr ? path_ : QString();
}

} // namespace spi

// ---- TSPI -------------------------------------------------------------------------------

TSPI::~TSPI() = default;

void TSPI::Missing(const char* entry) const {
    ThrowInvalidAPI(entry, fileName_);
}

void TSPI::Load(const QString& fileName) {
    if (!library_.Load(fileName))
        throw ESPIFOpenErrorSPI(
            QStringLiteral("%1:Susie Pluginがロードできませんでした").arg(fileName));
    fileName_ = library_.ModulePath();
    if (fileName_.isEmpty()) fileName_ = fileName;

    getPluginInfo_ = reinterpret_cast<decltype(getPluginInfo_)>(library_.Symbol("GetPluginInfo"));
    configurationDlg_ = library_.Symbol("ConfigurationDlg");
    isSupported_ = reinterpret_cast<decltype(isSupported_)>(library_.Symbol("IsSupported"));
    getPictureInfo_ =
        reinterpret_cast<decltype(getPictureInfo_)>(library_.Symbol("GetPictureInfo"));
    getPicture_ = reinterpret_cast<decltype(getPicture_)>(library_.Symbol("GetPicture"));
    getPreview_ = reinterpret_cast<decltype(getPreview_)>(library_.Symbol("GetPreview"));
    getArchiveInfo_ = library_.Symbol("GetArchiveInfo");
    getFileInfo_ = library_.Symbol("GetFileInfo");
    getFile_ = library_.Symbol("GetFile");

    CheckAPI();

    QString text;
    if (ReadPluginInfo(0, text)) apiVersion_ = text;
    if (ReadPluginInfo(1, text)) pluginName_ = text;
    // A plug-in that answers every index would keep us here for ever; no real one has
    // anywhere near this many formats.
    constexpr std::int32_t kMaxInfoIndex = 2 * 1024;
    for (std::int32_t n = 2; n < kMaxInfoIndex; n += 2) {
        QString filter, description;
        if (!ReadPluginInfo(n, filter)) break;
        if (!ReadPluginInfo(n + 1, description)) break; // a pattern without description
        filters_ << filter;
        descriptions_ << description;
    }
    loader_ = CanLoad();
}

bool TSPI::ReadPluginInfo(std::int32_t index, QString& text) const {
    std::vector<unsigned char> buffer(kInfoBuffer + kInfoGuard, kGuardByte);
    const std::int32_t result =
        GetPluginInfo(index, reinterpret_cast<char*>(buffer.data()), kInfoBuffer - 1);
    if (std::any_of(buffer.begin() + kInfoBuffer, buffer.end(),
                    [](unsigned char b) { return b != kGuardByte; }))
        throw ESPIInvalidSPI(
            QStringLiteral("GetPluginInfoが[%1]でバッファを超えて書き込みました").arg(fileName_));
    if (result <= 0) return false;
    // Up to the first NUL, never more than the 255 bytes the plug-in was allowed.
    const char* chars = reinterpret_cast<const char*>(buffer.data());
    text = QString::fromUtf8(chars, static_cast<qsizetype>(strnlen(chars, kInfoBuffer - 1)));
    return true;
}

void TSPI::CheckAPI() const {
    if (!getPluginInfo_) Missing("GetPluginInfo");
}

void TLoaderSPI::CheckAPI() const {
    TSPI::CheckAPI();
    if (!HasIsSupported()) Missing("IsSupported");
}

void TInSPI::CheckAPI() const {
    TLoaderSPI::CheckAPI();
    if (!HasGetPictureInfo()) Missing("GetPictureInfo");
    if (!HasGetPicture()) Missing("GetPicture");
}

void TAmSPI::CheckAPI() const {
    TLoaderSPI::CheckAPI();
    if (!HasGetArchiveInfo()) Missing("GetArchiveInfo");
    if (!HasGetFileInfo()) Missing("GetFileInfo");
    if (!HasGetFile()) Missing("GetFile");
}

std::int32_t TSPI::GetPluginInfo(std::int32_t index, char* buffer, std::int32_t length) const {
    if (!getPluginInfo_) Missing("GetPluginInfo");
    return getPluginInfo_(index, buffer, length);
}

std::int32_t TSPI::IsSupported(const char* fileName, const void* data) const {
    if (!isSupported_) Missing("IsSupported");
    return isSupported_(fileName, data);
}

std::int32_t TSPI::GetPictureInfo(const char* data, std::int32_t length, std::uint32_t flag,
                                  PictureInfo* info) const {
    if (!getPictureInfo_) Missing("GetPictureInfo");
    return getPictureInfo_(data, length, flag, info);
}

std::int32_t TSPI::GetPicture(const char* data, std::int32_t length, std::uint32_t flag,
                              std::uint32_t* bitmapInfo, std::uint32_t* bitmap,
                              ProgressCallback progress, std::int32_t user) const {
    if (!getPicture_) Missing("GetPicture");
    return getPicture_(data, length, flag, bitmapInfo, bitmap, progress, user);
}

std::int32_t TSPI::GetPreview(const char* data, std::int32_t length, std::uint32_t flag,
                              std::uint32_t* bitmapInfo, std::uint32_t* bitmap,
                              ProgressCallback progress, std::int32_t user) const {
    if (!getPreview_) Missing("GetPreview");
    return getPreview_(data, length, flag, bitmapInfo, bitmap, progress, user);
}

// ---- TSPIs ------------------------------------------------------------------------------

TSPIs::TSPIs() {
    if (InstanceValue() != nullptr)
        throw ESPIDupCreateSPIs(QStringLiteral("TSPIs は複数生成できません"));
    InstanceValue() = this;
}

TSPIs::~TSPIs() {
    if (InstanceValue() == this) InstanceValue() = nullptr;
    Clear();
}

TSPIs* TSPIs::Instance() {
    return InstanceValue();
}

void TSPIs::Loaded() {
    if (AutoSearch) Search(QStringLiteral("*.spi"));
}

void TSPIs::Search(const QString& mask) {
    const qsizetype slash = mask.lastIndexOf(u'/');
    if (slash >= 0) {
        SearchDirectory(WithSlash(mask.left(slash + 1)), mask.mid(slash + 1));
        return;
    }
    const auto has = [this](TSPISearchOption option) {
        return std::find(SearchOptions.begin(), SearchOptions.end(), option) != SearchOptions.end();
    };
    std::vector<QString> places;
    // A relative Susie folder would count from wherever the program was started.
    if (has(TSPISearchOption::spsSusieDir)) {
        if (const QString susie = SusieDirectory(); QDir::isAbsolutePath(susie))
            places.push_back(susie);
    }
    if (has(TSPISearchOption::spsAppDir))
        places.push_back(QFileInfo(Places.programFile).absolutePath());
    if (has(TSPISearchOption::spsCurrentDir)) places.push_back(platform::CurrentDirectory());
    if (has(TSPISearchOption::spsSystemDir)) places.push_back(Places.systemDirectory);
    if (has(TSPISearchOption::spsWindowsDir)) places.push_back(Places.windowsDirectory);
    for (const QString& place : places)
        if (!place.isEmpty()) SearchDirectory(WithSlash(place), mask);
}

void TSPIs::SearchDirectory(const QString& directory, const QString& mask) {
    // Regular files only (and links to them): hidden files, folders, FIFOs and devices are
    // not listed. The order is the file system's.
    const QDir dir(directory, mask, QDir::NoSort, QDir::Files);
    QStringList kept;
    for (const QString& name : dir.entryList()) {
        const QString path = directory + name;
        if (IndexOf(path) < 0) kept << path;
    }
    for (const QString& path : kept) {
        if (OnSearching) {
            bool accept = true;
            OnSearching(*this, path, accept);
            if (!accept) continue;
        }
        std::unique_ptr<TSPI> spi = CreateSPI(path);
        if (!spi) continue;
        TSPI* const added = spi.get();
        try {
            bool accept = true;
            if (OnSearch) OnSearch(*this, *spi, accept);
            if (accept) Add(std::move(spi));
        } catch (...) {
            // The plug-in stays out of the set (it may already be in the list when its
            // registration failed); the search goes on.
            const auto it = std::find_if(items_.begin(), items_.end(),
                                         [&](const auto& item) { return item.get() == added; });
            if (it != items_.end()) items_.erase(it);
        }
    }
}

std::unique_ptr<TSPI> TSPIs::CreateSPI(const QString& path) {
    try {
        std::unique_ptr<TSPI> probe = TSPI::Create<TSPI>(path);
        const QString& version = probe->APIVersion();
        const TSPIClass* cls = &TSPI::Class;
        if (version == QLatin1String("00IN"))
            cls = &TInSPI::Class;
        else if (version == QLatin1String("00AM"))
            cls = &TAmSPI::Class;
        else if (version == QLatin1String("00XN"))
            cls = &TXnSPI::Class;
        std::unique_ptr<TSPI> spi = cls->create(path);
        probe.reset();
        return spi;
    } catch (const ESPIFOpenErrorSPI&) {
    } catch (const ESPIInvalidSPI&) {
    } catch (const ESPIInvalidAPI&) {
    }
    return nullptr;
}

void TSPIs::Insert(int index, std::unique_ptr<TSPI> spi) {
    index = std::clamp(index, 0, Count());
    TSPI& added = *spi;
    items_.insert(items_.begin() + index, std::move(spi));
    if (!added.Is(TInSPI::Class)) return;
    auto& picture = static_cast<TInSPI&>(added);
    for (qsizetype k = 0; k < added.Filters().size(); ++k) {
        const TGraphicClass* graphicClass = GraphicClass();
        const QString& description = added.Descriptions().at(k);
        for (const QString& pattern : added.Filters().at(k).split(u';')) {
            const qsizetype dot = pattern.indexOf(u'.');
            const QString extension = dot < 0 ? pattern : pattern.mid(dot + 1);
            if (OnPictureRegister)
                OnPictureRegister(*this, picture, extension, description, graphicClass);
            if (graphicClass != nullptr)
                RegisterPictureFormat(extension, description, *graphicClass);
        }
    }
}

void TSPIs::Delete(int index) {
    items_.erase(items_.begin() + index);
}

void TSPIs::Clear() {
    while (!items_.empty())
        Delete(0);
}

int TSPIs::IndexOf(const QString& fileName) const {
    for (std::size_t i = 0; i < items_.size(); ++i)
        if (SameAsciiCase(items_[i]->FileName(), fileName)) return static_cast<int>(i);
    return -1;
}

void TSPIs::FindSPIs(const std::vector<const TSPIClass*>& classes, std::vector<TSPI*>& list,
                     const QString& fileName) const {
    const QString extension = ExtensionFrom(fileName);
    for (const auto& item : items_) {
        TSPI* spi = item.get();
        if (std::none_of(classes.begin(), classes.end(),
                         [&](const TSPIClass* c) { return spi->Is(*c); }))
            continue;
        const bool claims =
            !extension.isEmpty() &&
            std::any_of(spi->Filters().begin(), spi->Filters().end(), [&](const QString& filter) {
                return SameAsciiCase(ExtensionFrom(filter), extension);
            });
        if (claims)
            list.insert(list.begin(), spi);
        else
            list.push_back(spi);
    }
}

} // namespace sorowa
