// The class-object table and its cached factory, driven through a test class whose instances hold
// a module lock as the plug-in object's do; and the unload answer that follows the lock count.
#include <gtest/gtest.h>

#include <atomic>
#include <iterator>
#include <new>
#include <thread>
#include <vector>

#include "dll/class_factory.h"
#include "base/com_ptr.h"
#include "base/module_lock.h"
#include "base/qi_table.h"

namespace {

// {0D5C1A3E-7F21-4B8A-9E44-3A6B2C1D0E9F}
const CLSID kTestClass = {0x0D5C1A3E, 0x7F21, 0x4B8A, {0x9E, 0x44, 0x3A, 0x6B, 0x2C, 0x1D, 0x0E, 0x9F}};
// {5B7E0C11-2D43-4F6A-8C19-7E2D4B6A8C30}
const CLSID kFailingClass = {0x5B7E0C11, 0x2D43, 0x4F6A, {0x8C, 0x19, 0x7E, 0x2D, 0x4B, 0x6A, 0x8C, 0x30}};

std::atomic<int> g_livingObjects{0};

// A minimal object in the plug-in object's manner: one module lock for its life.
class TestObject final : public IPersist {
public:
    TestObject() {
        sv::ModuleAddRef();
        ++g_livingObjects;
    }
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        static const sv::InterfaceMapEntry kInterfaces[] = {
            SV_INTERFACE_ENTRY(TestObject, IPersist),
            SV_INTERFACE_MAP_END,
        };
        return sv::QueryInterfaceFromTable(this, kInterfaces, riid, ppv);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG count = --references_;
        if (count == 0) delete this;
        return count;
    }
    STDMETHODIMP GetClassID(CLSID* clsid) override {
        *clsid = kTestClass;
        return S_OK;
    }

private:
    ~TestObject() {
        --g_livingObjects;
        sv::ModuleRelease();
    }
    std::atomic<ULONG> references_{1};
};

HRESULT CreateTestObject(REFIID riid, void** ppv) {
    auto* object = new (std::nothrow) TestObject();
    if (!object) return E_OUTOFMEMORY;
    const HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
}

HRESULT CreateThrowing(REFIID, void**) { throw std::bad_alloc(); }

sv::ClassObjectEntry g_table[] = {
    {&kTestClass, &CreateTestObject, nullptr},
    {&kFailingClass, &CreateThrowing, nullptr},
};

class ClassFactoryTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(0, sv::ModuleLockCount()); }
    void TearDown() override {
        sv::ReleaseCachedClassFactories(g_table, std::size(g_table));
        EXPECT_EQ(0, sv::ModuleLockCount());
        EXPECT_EQ(0, g_livingObjects.load());
    }
    sv::ComPtr<IClassFactory> Factory(REFCLSID clsid = kTestClass) {
        sv::ComPtr<IClassFactory> factory;
        EXPECT_EQ(S_OK, sv::GetClassObjectFromTable(g_table, std::size(g_table), clsid, IID_IClassFactory,
                                                    factory.put_void()));
        return factory;
    }
};

// The factory has one identity whichever interface it is asked for.
TEST_F(ClassFactoryTest, OneIdentity) {
    auto first = Factory();
    ASSERT_TRUE(first);
    sv::ComPtr<IUnknown> unknownA;
    ASSERT_EQ(S_OK, first->QueryInterface(IID_IUnknown, unknownA.put_void()));
    sv::ComPtr<IUnknown> viaTable;
    ASSERT_EQ(S_OK,
              sv::GetClassObjectFromTable(g_table, std::size(g_table), kTestClass, IID_IUnknown, viaTable.put_void()));
    EXPECT_EQ(unknownA.get(), viaTable.get());

    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_NOINTERFACE, first->QueryInterface(IID_IDispatch, &out));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(E_NOINTERFACE, sv::GetClassObjectFromTable(g_table, std::size(g_table), kTestClass, IID_IDispatch, &out));
    EXPECT_EQ(nullptr, out);
}

TEST_F(ClassFactoryTest, EveryHeldReferenceKeepsTheModuleLoaded) {
    EXPECT_EQ(S_OK, sv::CanUnloadModule());
    {
        auto factory = Factory();
        EXPECT_EQ(S_FALSE, sv::CanUnloadModule());
        auto again = factory.Copy();
        EXPECT_EQ(2, sv::ModuleLockCount());
    }
    // Only the module's own cached reference is left.
    EXPECT_EQ(S_OK, sv::CanUnloadModule());
}

TEST_F(ClassFactoryTest, ServerLockObjectsAndWorkersHoldTheModule) {
    {
        auto factory = Factory();
        ASSERT_EQ(S_OK, factory->LockServer(TRUE));
    }
    EXPECT_EQ(S_FALSE, sv::CanUnloadModule());
    {
        auto factory = Factory();
        ASSERT_EQ(S_OK, factory->LockServer(FALSE));
    }
    EXPECT_EQ(S_OK, sv::CanUnloadModule());

    sv::ComPtr<IPersist> object;
    {
        auto factory = Factory();
        ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IPersist, object.put_void()));
    }
    EXPECT_EQ(1, g_livingObjects.load());
    EXPECT_EQ(S_FALSE, sv::CanUnloadModule());
    object.reset();
    EXPECT_EQ(S_OK, sv::CanUnloadModule());

    // A worker thread that outlives its caller holds the module the same way.
    sv::ModuleAddRef();
    EXPECT_EQ(S_FALSE, sv::CanUnloadModule());
    sv::ModuleRelease();
    EXPECT_EQ(S_OK, sv::CanUnloadModule());
}

TEST_F(ClassFactoryTest, CreateInstanceFailures) {
    auto factory = Factory();
    void* out = reinterpret_cast<void*>(1);
    sv::ComPtr<IUnknown> outer;
    ASSERT_EQ(S_OK, factory->QueryInterface(IID_IUnknown, outer.put_void()));
    EXPECT_EQ(CLASS_E_NOAGGREGATION, factory->CreateInstance(outer.get(), IID_IUnknown, &out));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(E_POINTER, factory->CreateInstance(nullptr, IID_IPersist, nullptr));
    // The object is made, does not offer the interface, and is destroyed again.
    out = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_NOINTERFACE, factory->CreateInstance(nullptr, IID_IDispatch, &out));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(0, g_livingObjects.load());

    // An exception from a creator stays inside the factory.
    auto failing = Factory(kFailingClass);
    out = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_OUTOFMEMORY, failing->CreateInstance(nullptr, IID_IUnknown, &out));
    EXPECT_EQ(nullptr, out);
}

TEST_F(ClassFactoryTest, ConcurrentFirstRequestsShareOneFactory) {
    constexpr int kThreads = 8;
    constexpr int kRequests = 500;
    std::vector<IClassFactory*> seen(kThreads, nullptr);
    std::atomic<bool> allSame{true};
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            ++ready;
            while (ready.load() < kThreads) std::this_thread::yield();
            for (int i = 0; i < kRequests; ++i) {
                IClassFactory* factory = nullptr;
                if (FAILED(sv::GetClassObjectFromTable(g_table, std::size(g_table), kTestClass, IID_IClassFactory,
                                                       reinterpret_cast<void**>(&factory)))) {
                    allSame = false;
                    return;
                }
                if (seen[t] && seen[t] != factory) allSame = false;
                seen[t] = factory;
                factory->Release();
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_TRUE(allSame.load());
    for (int t = 1; t < kThreads; ++t) EXPECT_EQ(seen[0], seen[t]);
    EXPECT_EQ(S_OK, sv::CanUnloadModule());
}

}  // namespace
