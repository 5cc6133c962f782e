#pragma once

#include <unknwn.h>

namespace cvwin {

// Makes one object and asks it for an interface.
using CreateFunction = HRESULT (*)(REFIID riid, void** object);

// The factory of one class.
class ClassFactory final : public IClassFactory {
public:
    explicit ClassFactory(CreateFunction create);
    ClassFactory(const ClassFactory&) = delete;
    ClassFactory& operator=(const ClassFactory&) = delete;

    IFACEMETHODIMP QueryInterface(REFIID riid, void** object) override;
    IFACEMETHODIMP_(ULONG) AddRef() override;
    IFACEMETHODIMP_(ULONG) Release() override;
    IFACEMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** object) override;
    IFACEMETHODIMP LockServer(BOOL lock) override;

private:
    ~ClassFactory();
    volatile LONG references_ = 1;
    CreateFunction create_;
};

}  // namespace cvwin
