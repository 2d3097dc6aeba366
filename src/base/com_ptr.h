// Small RAII types for COM: ComPtr, UniqueBstr, UniqueVariant.
// Move-only: a copy would hide an AddRef/Release pair; use Copy() when a second reference is wanted.
#pragma once
#include <windows.h>
#include <oleauto.h>
#include <utility>

namespace sv {

template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    // Takes over a reference the caller already owns.
    static ComPtr Attach(T* p) {
        ComPtr c;
        c.p_ = p;
        return c;
    }
    // Adds a reference of its own.
    static ComPtr From(T* p) {
        if (p) p->AddRef();
        return Attach(p);
    }
    ComPtr(ComPtr&& o) noexcept : p_(o.p_) { o.p_ = nullptr; }
    ComPtr& operator=(ComPtr&& o) noexcept {
        if (this != &o) {
            reset();
            p_ = o.p_;
            o.p_ = nullptr;
        }
        return *this;
    }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ~ComPtr() { reset(); }

    ComPtr Copy() const { return From(p_); }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    void reset() {
        if (T* p = p_) {
            p_ = nullptr;
            p->Release();
        }
    }
    // Releases what it held and gives the address for an out parameter.
    T** put() {
        reset();
        return &p_;
    }
    void** put_void() { return reinterpret_cast<void**>(put()); }
    T* detach() {
        T* p = p_;
        p_ = nullptr;
        return p;
    }

    template <class U>
    HRESULT As(ComPtr<U>& out) const {
        if (!p_) return E_POINTER;
        return p_->QueryInterface(__uuidof(U), out.put_void());
    }
    HRESULT QueryFrom(IUnknown* from, REFIID iid) {
        if (!from) {
            reset();
            return E_POINTER;
        }
        return from->QueryInterface(iid, put_void());
    }

private:
    T* p_ = nullptr;
};

class UniqueBstr {
public:
    UniqueBstr() = default;
    explicit UniqueBstr(const wchar_t* text) : b_(text ? SysAllocString(text) : nullptr) {}
    UniqueBstr(const wchar_t* text, UINT length) : b_(SysAllocStringLen(text, length)) {}
    static UniqueBstr Attach(BSTR b) {
        UniqueBstr u;
        u.b_ = b;
        return u;
    }
    UniqueBstr(UniqueBstr&& o) noexcept : b_(o.b_) { o.b_ = nullptr; }
    UniqueBstr& operator=(UniqueBstr&& o) noexcept {
        if (this != &o) {
            reset();
            b_ = o.b_;
            o.b_ = nullptr;
        }
        return *this;
    }
    UniqueBstr(const UniqueBstr&) = delete;
    UniqueBstr& operator=(const UniqueBstr&) = delete;
    ~UniqueBstr() { reset(); }

    BSTR get() const { return b_; }
    // Never null for reading: an absent BSTR reads as the empty text.
    const wchar_t* c_str() const { return b_ ? b_ : L""; }
    UINT length() const { return SysStringLen(b_); }
    bool empty() const { return length() == 0; }
    void reset() {
        if (b_) {
            SysFreeString(b_);
            b_ = nullptr;
        }
    }
    BSTR* put() {
        reset();
        return &b_;
    }
    BSTR detach() {
        BSTR b = b_;
        b_ = nullptr;
        return b;
    }

private:
    BSTR b_ = nullptr;
};

class UniqueVariant {
public:
    UniqueVariant() { VariantInit(&v_); }
    UniqueVariant(UniqueVariant&& o) noexcept {
        v_ = o.v_;
        VariantInit(&o.v_);
    }
    UniqueVariant& operator=(UniqueVariant&& o) noexcept {
        if (this != &o) {
            reset();
            v_ = o.v_;
            VariantInit(&o.v_);
        }
        return *this;
    }
    UniqueVariant(const UniqueVariant&) = delete;
    UniqueVariant& operator=(const UniqueVariant&) = delete;
    ~UniqueVariant() { VariantClear(&v_); }

    VARIANT* get() { return &v_; }
    const VARIANT* get() const { return &v_; }
    VARIANT* operator->() { return &v_; }
    void reset() { VariantClear(&v_); }
    VARIANT* put() {
        reset();
        return &v_;
    }

private:
    VARIANT v_;
};

}  // namespace sv
