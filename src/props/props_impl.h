// IMPropsImpl: the IOXProps implementation every renderer class derives from.
//
// Hooks, looked up on the renderer class T (the defaults here do nothing):
//   template <class F> std::optional<HRESULT> PropsForward(F&& call)
//       offers the call to another object first (the generic renderer's current backend):
//       run call(IOXProps*) there and return its result, or return nullopt to use the local
//       tree.
//   HRESULT PropsOnSet(BSTR name, BSTR value)
//       runs after each successful PropsSet with the write lock still held; its result is
//       PropsSet's result. It must not wait for another thread that calls PropsSet.
#pragma once

#include <optional>

#include "com/ptr.h"
#include "orvex/interfaces.h"
#include "props/props_store.h"

template <class T, class Itf = IOXProps>
class IMPropsImpl : public Itf {
public:
    STDMETHOD(PropsSet)(BSTR bsName, BSTR bsValue) override {
        if (auto r =
                Self()->PropsForward([&](IOXProps* p) { return p->PropsSet(bsName, bsValue); }))
            return *r;
        orvex::platform::CRWSynchroLiteGuard lock(m_props.Lock(),
                                                  orvex::platform::LockMode::kWrite);
        HRESULT hr = m_props.SetLocked(orvex::com::View(bsName), bsValue);
        m_props.CountWrite();
        if (FAILED(hr)) return hr;
        return Self()->PropsOnSet(bsName, bsValue);
    }

    STDMETHOD(PropsGet)(BSTR bsName, BSTR* pbsValue) override {
        if (auto r =
                Self()->PropsForward([&](IOXProps* p) { return p->PropsGet(bsName, pbsValue); }))
            return *r;
        if (!pbsValue) return E_POINTER;
        orvex::platform::CRWSynchroLiteGuard lock(m_props.Lock(), orvex::platform::LockMode::kRead);
        return m_props.GetLocked(orvex::com::View(bsName), pbsValue);
    }

    STDMETHOD(PropsGetCount)(BSTR bsNodeName, int* pnCount) override {
        if (auto r = Self()->PropsForward(
                [&](IOXProps* p) { return p->PropsGetCount(bsNodeName, pnCount); }))
            return *r;
        if (!pnCount) return E_POINTER;
        orvex::platform::CRWSynchroLiteGuard lock(m_props.Lock(),
                                                  orvex::platform::LockMode::kWrite);
        return m_props.GetCountLocked(orvex::com::View(bsNodeName), pnCount);
    }

    STDMETHOD(PropsGetByIndex)
    (BSTR bsNodeName, int nIndex, BSTR* pbsName, BSTR* pbsValue, BOOL* pbNode) override {
        if (auto r = Self()->PropsForward([&](IOXProps* p) {
                return p->PropsGetByIndex(bsNodeName, nIndex, pbsName, pbsValue, pbNode);
            }))
            return *r;
        orvex::platform::CRWSynchroLiteGuard lock(m_props.Lock(),
                                                  orvex::platform::LockMode::kWrite);
        return m_props.GetByIndexLocked(orvex::com::View(bsNodeName), nIndex, pbsName, pbsValue,
                                        pbNode);
    }

    STDMETHOD(PropsRemove)(BSTR bsName) override {
        if (orvex::com::View(bsName).empty()) return E_INVALIDARG;
        if (auto r = Self()->PropsForward([&](IOXProps* p) { return p->PropsRemove(bsName); }))
            return *r;
        orvex::platform::CRWSynchroLiteGuard lock(m_props.Lock(),
                                                  orvex::platform::LockMode::kWrite);
        const HRESULT hr = m_props.RemoveLocked(orvex::com::View(bsName));
        m_props.CountWrite();
        return hr;
    }

    STDMETHOD(PropsInfoGet)(BSTR bsName, eMInfoType eType, BSTR* pbsInfo) override {
        if (orvex::com::View(bsName).empty()) return E_INVALIDARG;
        if (auto r = Self()->PropsForward(
                [&](IOXProps* p) { return p->PropsInfoGet(bsName, eType, pbsInfo); }))
            return *r;
        if (!pbsInfo) return E_POINTER;
        *pbsInfo = nullptr;
        if (eType < eMIT_Help || eType >= eMIT_Node) return E_INVALIDARG;
        orvex::platform::CRWSynchroLiteGuard lock(m_props.Lock(), orvex::platform::LockMode::kRead);
        return m_props.InfoGetLocked(orvex::com::View(bsName), eType, pbsInfo);
    }

    STDMETHOD(PropsOptionGetCount)(BSTR bsName, int* pnCount) override {
        if (auto r = Self()->PropsForward(
                [&](IOXProps* p) { return p->PropsOptionGetCount(bsName, pnCount); }))
            return *r;
        if (!pnCount) return E_POINTER;
        orvex::platform::CRWSynchroLiteGuard lock(m_props.Lock(), orvex::platform::LockMode::kRead);
        *pnCount = static_cast<int>(m_props.OptionsLocked(orvex::com::View(bsName)).size());
        return S_OK;
    }

    STDMETHOD(PropsOptionGetByIndex)
    (BSTR bsName, int nIndex, BSTR* pbsValue, BSTR* pbsHelp) override {
        if (auto r = Self()->PropsForward([&](IOXProps* p) {
                return p->PropsOptionGetByIndex(bsName, nIndex, pbsValue, pbsHelp);
            }))
            return *r;
        if (pbsValue) *pbsValue = nullptr;
        if (pbsHelp) *pbsHelp = nullptr;
        orvex::platform::CRWSynchroLiteGuard lock(m_props.Lock(), orvex::platform::LockMode::kRead);
        auto options = m_props.OptionsLocked(orvex::com::View(bsName));
        if (nIndex < 0 || static_cast<std::size_t>(nIndex) >= options.size())
            return E_INVALID_INDEX;
        const std::u16string& item = options[static_cast<std::size_t>(nIndex)];
        if (pbsValue && FAILED(CComBSTR(item).CopyTo(pbsValue))) return E_OUTOFMEMORY;
        if (pbsHelp) {
            std::u16string help = m_props.OptionHelpLocked(orvex::com::View(bsName), item);
            if (!help.empty()) *pbsHelp = CComBSTR(help).Detach();
        }
        return S_OK;
    }

    STDMETHOD(PropsOptionSetByIndex)(BSTR bsName, int nIndex) override {
        if (auto r = Self()->PropsForward(
                [&](IOXProps* p) { return p->PropsOptionSetByIndex(bsName, nIndex); }))
            return *r;
        CComBSTR item;
        {
            orvex::platform::CRWSynchroLiteGuard lock(m_props.Lock(),
                                                      orvex::platform::LockMode::kRead);
            auto options = m_props.OptionsLocked(orvex::com::View(bsName));
            if (nIndex < 0 || static_cast<std::size_t>(nIndex) >= options.size())
                return E_INVALID_INDEX;
            item = CComBSTR(options[static_cast<std::size_t>(nIndex)]);
        }
        // Through the object's own PropsSet, so that the class reacts as to any write.
        return Self()->PropsSet(bsName, item);
    }

    STDMETHOD(PropsOptionGet)(BSTR bsName, int* pnIndex, BSTR* pbsValue, BSTR* pbsHelp) override {
        if (auto r = Self()->PropsForward(
                [&](IOXProps* p) { return p->PropsOptionGet(bsName, pnIndex, pbsValue, pbsHelp); }))
            return *r;
        if (pnIndex) *pnIndex = -1;
        if (pbsValue) *pbsValue = nullptr;
        if (pbsHelp) *pbsHelp = nullptr;
        orvex::platform::CRWSynchroLiteGuard lock(m_props.Lock(), orvex::platform::LockMode::kRead);
        const std::u16string_view name = orvex::com::View(bsName);
        std::u16string current;
        if (!m_props.AttributeLocked(name, &current)) return E_FILE_NOT_FOUND;
        auto options = m_props.OptionsLocked(name);
        for (std::size_t i = 0; i < options.size(); ++i) {
            if (options[i] == current) {
                if (pnIndex) *pnIndex = static_cast<int>(i);
                break;
            }
        }
        if (pbsValue) *pbsValue = CComBSTR(current).Detach();
        if (pbsHelp) {
            std::u16string help = m_props.OptionHelpLocked(name, current);
            if (!help.empty()) *pbsHelp = CComBSTR(help).Detach();
        }
        return S_OK;
    }

    // Default hooks; T hides them with its own.
    template <class F>
    std::optional<HRESULT> PropsForward(F&&) {
        return std::nullopt;
    }
    HRESULT PropsOnSet(BSTR, BSTR) { return S_OK; }

    // The tree, for the class's own declarations and the registry settings.
    XMLParse::CoXMLNode* PropsRoot() const { return m_props.Root(); }
    // Grows with every PropsSet and PropsRemove (see PropsStore::Writes).
    std::uint64_t PropsWrites() const { return m_props.Writes(); }

protected:
    orvex::props::PropsStore m_props;

private:
    T* Self() { return static_cast<T*>(this); }
};
