#pragma once
// Decoder plug-ins: one loaded library each (TSPI and its descendants), and the plug-in set
// (TSPIs) that finds them, keeps them and registers their file patterns as picture formats.

#include "platform/directories.h"
#include "platform/errors.h"
#include "sorowa/spi.h"

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace sorowa {

struct TGraphicClass;

// A library that cannot be loaded.
class ESPIFOpenErrorSPI : public Exception {
public:
    using Exception::Exception;
};
// A required entry point is absent.
class ESPIInvalidAPI : public Exception {
public:
    using Exception::Exception;
};
// A file that is not a usable plug-in (one that writes past the buffers it is given, say).
class ESPIInvalidSPI : public Exception {
public:
    using Exception::Exception;
};
// A second plug-in set.
class ESPIDupCreateSPIs : public Exception {
public:
    using Exception::Exception;
};

class TSPI;

// A plug-in class: its name, its base and how to make one from a library path.
struct TSPIClass {
    const char* name;
    const TSPIClass* parent;
    std::unique_ptr<TSPI> (*create)(const QString& fileName);

    bool InheritsFrom(const TSPIClass& other) const;
};

namespace spi {
// A dlopen'ed library, closed when destroyed.
class TLibrary {
public:
    TLibrary() = default;
    ~TLibrary();
    TLibrary(const TLibrary&) = delete;
    TLibrary& operator=(const TLibrary&) = delete;
    // Loads path; false when it cannot be loaded (not a regular file, not a library, ...) or
    // must not be: a symbolic link, a file or folder that someone other than the user or root
    // owns or that others may write (said once on the log).
    bool Load(const QString& path);
    void* Handle() const { return handle_; }
    void* Symbol(const char* name) const;
    // The path the module was loaded from.
    QString ModulePath() const;

private:
    void* handle_ = nullptr;
    QString path_;
};
} // namespace spi

class TSPI {
public:
    static const TSPIClass Class;
    virtual const TSPIClass& ClassType() const { return Class; }
    bool Is(const TSPIClass& cls) const { return ClassType().InheritsFrom(cls); }

    virtual ~TSPI();
    TSPI(const TSPI&) = delete;
    TSPI& operator=(const TSPI&) = delete;

    // Loads and examines the library at fileName as an object of class T. Throws
    // ESPIFOpenErrorSPI, ESPIInvalidAPI or ESPIInvalidSPI; the library is released then.
    template <class T> static std::unique_ptr<TSPI> Create(const QString& fileName) {
        std::unique_ptr<TSPI> spi(new T);
        spi->Load(fileName);
        return spi;
    }

    // Raises ESPIInvalidAPI for the first required entry point that is absent.
    virtual void CheckAPI() const;
    virtual bool CanLoad() const { return false; }

    // The entry points. Each throws ESPIInvalidAPI when absent and otherwise returns the
    // entry's own result.
    std::int32_t GetPluginInfo(std::int32_t index, char* buffer, std::int32_t length) const;
    std::int32_t IsSupported(const char* fileName, const void* data) const;
    std::int32_t GetPictureInfo(const char* data, std::int32_t length, std::uint32_t flag,
                                PictureInfo* info) const;
    std::int32_t GetPicture(const char* data, std::int32_t length, std::uint32_t flag,
                            std::uint32_t* bitmapInfo, std::uint32_t* bitmap,
                            ProgressCallback progress, std::int32_t user) const;
    // The optional preview entry: as GetPicture, for the file's own small copy.
    std::int32_t GetPreview(const char* data, std::int32_t length, std::uint32_t flag,
                            std::uint32_t* bitmapInfo, std::uint32_t* bitmap,
                            ProgressCallback progress, std::int32_t user) const;

    // Info text index read safely: nullopt-like empty result when the plug-in has none.
    // Throws ESPIInvalidSPI when the plug-in writes past the buffer it is given.
    bool ReadPluginInfo(std::int32_t index, QString& text) const;

    void* Handle() const { return library_.Handle(); }
    const QString& FileName() const { return fileName_; }
    const QString& APIVersion() const { return apiVersion_; }
    const QString& PluginName() const { return pluginName_; }
    const QStringList& Filters() const { return filters_; }
    const QStringList& Descriptions() const { return descriptions_; }
    bool Loader() const { return loader_; }

    bool HasGetPluginInfo() const { return getPluginInfo_ != nullptr; }
    bool HasIsSupported() const { return isSupported_ != nullptr; }
    bool HasGetPictureInfo() const { return getPictureInfo_ != nullptr; }
    bool HasGetPicture() const { return getPicture_ != nullptr; }
    bool HasGetPreview() const { return getPreview_ != nullptr; }
    bool HasGetArchiveInfo() const { return getArchiveInfo_ != nullptr; }
    bool HasGetFileInfo() const { return getFileInfo_ != nullptr; }
    bool HasGetFile() const { return getFile_ != nullptr; }
    bool HasConfigurationDlg() const { return configurationDlg_ != nullptr; }

protected:
    TSPI() = default;
    [[noreturn]] void Missing(const char* entry) const;

private:
    void Load(const QString& fileName);

    spi::TLibrary library_;
    QString fileName_;
    QString apiVersion_;
    QString pluginName_;
    QStringList filters_;
    QStringList descriptions_;
    bool loader_ = false;

    decltype(&::GetPluginInfo) getPluginInfo_ = nullptr;
    decltype(&::IsSupported) isSupported_ = nullptr;
    decltype(&::GetPictureInfo) getPictureInfo_ = nullptr;
    decltype(&::GetPicture) getPicture_ = nullptr;
    decltype(&::GetPreview) getPreview_ = nullptr;
    void* getArchiveInfo_ = nullptr;
    void* getFileInfo_ = nullptr;
    void* getFile_ = nullptr;
    void* configurationDlg_ = nullptr;
};

class TLoaderSPI : public TSPI {
public:
    static const TSPIClass Class;
    const TSPIClass& ClassType() const override { return Class; }
    void CheckAPI() const override;

protected:
    TLoaderSPI() = default;
};

class TInSPI : public TLoaderSPI {
public:
    static const TSPIClass Class;
    const TSPIClass& ClassType() const override { return Class; }
    void CheckAPI() const override;
    bool CanLoad() const override { return true; }

protected:
    TInSPI() = default;
    friend class TSPI;
};

class TAmSPI : public TLoaderSPI {
public:
    static const TSPIClass Class;
    const TSPIClass& ClassType() const override { return Class; }
    void CheckAPI() const override;
    bool CanLoad() const override { return true; }

protected:
    TAmSPI() = default;
    friend class TSPI;
};

class TXnSPI : public TSPI {
public:
    static const TSPIClass Class;
    const TSPIClass& ClassType() const override { return Class; }

protected:
    TXnSPI() = default;
    friend class TSPI;
};

enum class TSPISearchOption { spsSusieDir, spsAppDir, spsCurrentDir, spsSystemDir, spsWindowsDir };
using TSPISearchOptions = std::vector<TSPISearchOption>;

class TSPIs;
using TSPISearchingEvent =
    std::function<void(TSPIs& sender, const QString& fileName, bool& accept)>;
using TSPISearchEvent = std::function<void(TSPIs& sender, TSPI& spi, bool& accept)>;
using TSPIPictureRegisterEvent =
    std::function<void(TSPIs& sender, TInSPI& spi, const QString& extension,
                       const QString& description, const TGraphicClass*& graphicClass)>;

// The picture class that registrations use; none until the plug-in picture class sets it.
const TGraphicClass* GraphicClass();
void SetGraphicClass(const TGraphicClass* graphicClass);

// The Susie plug-in folder: key Path of group Plug-in in the user's settings of
// "Velmaris"/"Susie"; empty when missing, unreadable, not a text or empty.
QString SusieDirectory();

class TSPIs {
public:
    // Throws ESPIDupCreateSPIs when a set exists already.
    TSPIs();
    ~TSPIs();
    TSPIs(const TSPIs&) = delete;
    TSPIs& operator=(const TSPIs&) = delete;

    // The single set, or nullptr.
    static TSPIs* Instance();

    // Called once the set's settings are in place: searches "*.spi" when AutoSearch is on.
    void Loaded();

    void Search(const QString& mask);
    void SearchDirectory(const QString& directory, const QString& mask);
    // The plug-in object of the class the library's API version selects; nullptr when the
    // file is not a usable plug-in.
    static std::unique_ptr<TSPI> CreateSPI(const QString& path);

    int Count() const { return static_cast<int>(items_.size()); }
    TSPI& Items(int index) const { return *items_.at(static_cast<std::size_t>(index)); }
    void Add(std::unique_ptr<TSPI> spi) { Insert(Count(), std::move(spi)); }
    void Insert(int index, std::unique_ptr<TSPI> spi);
    void Delete(int index);
    void Clear();
    int IndexOf(const QString& fileName) const;
    // Appends the plug-ins of the given classes that may decode fileName: those whose
    // patterns claim its extension first (the latest first), then the others in set order.
    void FindSPIs(const std::vector<const TSPIClass*>& classes, std::vector<TSPI*>& list,
                  const QString& fileName) const;

    TSPISearchOptions SearchOptions = {TSPISearchOption::spsSusieDir, TSPISearchOption::spsAppDir};
    // The program file whose folder spsAppDir names, and the folders of spsSystemDir and
    // spsWindowsDir: given by the set's owner before it searches (until then, no program
    // file and the machine's folders). A place left empty is not searched.
    platform::ProgramPlaces Places;
    bool AutoSearch = true;
    TSPISearchEvent OnSearch;
    TSPISearchingEvent OnSearching;
    TSPIPictureRegisterEvent OnPictureRegister;

private:
    std::vector<std::unique_ptr<TSPI>> items_;
};

} // namespace sorowa
