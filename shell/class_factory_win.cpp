#include "shell/class_factory_win.h"

#include "shell/com_object_win.h"
#include "shell/server_win.h"

namespace cvwin {

namespace {

class ClassFactory final : public ComObject<IClassFactory> {
public:
    explicit ClassFactory(CreateFunction create) : create_(create) {}

    IFACEMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        return create_(riid, object);
    }

    IFACEMETHODIMP LockServer(BOOL lock) override {
        lockServer(lock != FALSE);
        return S_OK;
    }

private:
    ~ClassFactory() override = default;

    CreateFunction create_;
};

}  // namespace

HRESULT createClassFactory(CreateFunction create, REFIID riid, void** object) {
    return createObject<ClassFactory>(riid, object, create);
}

}  // namespace cvwin
