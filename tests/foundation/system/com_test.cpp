#include "foundation/system/com.hpp"

#include <gtest/gtest.h>

#include <system_error>
#include <thread>

#include <windows.h>
#include <comdef.h>

#include "foundation/system/unique_any.hpp"

_COM_SMARTPTR_TYPEDEF(IPersistFile, __uuidof(IPersistFile));

namespace {

// Each case starts on a thread that has never touched COM.
template <class Body>
void on_fresh_thread(Body body) {
    std::thread(body).join();
}

// Whether COM is initialised on the calling thread.
bool com_initialised() {
    APTTYPE type{};
    APTTYPEQUALIFIER qualifier{};
    return SUCCEEDED(::CoGetApartmentType(&type, &qualifier));
}

} // namespace

TEST(com, scopes_balance_only_their_own_initialisation) {
    on_fresh_thread([] {
        {
            const vd::com_scope outer(COINIT_APARTMENTTHREADED);
            EXPECT_TRUE(outer.active());
            {
                const vd::com_scope inner(COINIT_APARTMENTTHREADED);
                EXPECT_TRUE(inner.active()) << "S_FALSE counts and is balanced";
            }
            EXPECT_TRUE(com_initialised()) << "the inner scope undid only its own reference";
        }
        EXPECT_FALSE(com_initialised());
    });

    on_fresh_thread([] {
        {
            const vd::com_scope multithreaded(COINIT_MULTITHREADED);
            {
                const vd::com_scope single(COINIT_APARTMENTTHREADED);
                EXPECT_FALSE(single.active()) << "the thread keeps its apartment";
            }
            EXPECT_TRUE(com_initialised()) << "the inactive scope uninitialised nothing";
        }
        EXPECT_FALSE(com_initialised());
    });
}

TEST(com, bstr_texts_keep_their_embedded_nuls) {
    const vd::unique_bstr text{::SysAllocStringLen(L"a\0b", 3)};
    ASSERT_TRUE(text);
    EXPECT_EQ(vd::bstr_to_wstring(text.get()), std::wstring(L"a\0b", 3));
    EXPECT_EQ(vd::bstr_to_wstring(nullptr), L"");
}

TEST(com, smart_pointer_failures_become_system_errors) {
    _set_com_error_handler(vd::details::throw_com_error);
    struct restore {
        ~restore() { _set_com_error_handler(_com_raise_error); }
    } restore_handler;

    IPersistFilePtr empty;
    try {
        empty->IsDirty();
        ADD_FAILURE() << "an empty pointer was used";
    } catch (const std::system_error& e) {
        EXPECT_EQ(e.code(), std::error_code(E_POINTER, std::system_category()));
    }
}
