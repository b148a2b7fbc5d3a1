// Class, interface and library identifiers of the Orvex SDK. They never change: other SDK
// modules create these classes and ask for these interfaces by value.
#pragma once

#include "orvex/com.h"
#include "orvex/interfaces.h"

// Renderer classes served by the OXRenderer module.
inline constexpr CLSID CLSID_OXRenderer = MakeGuid("860f09a9-d4fb-4878-9c41-a52abe51a67f");
inline constexpr CLSID CLSID_OXRendererBMD = MakeGuid("3aeaefee-717d-4ed7-8ee4-1dd674d2187d");
inline constexpr CLSID CLSID_OXRendererAJA = MakeGuid("89a22808-8b04-4d42-a08a-c15759bf22d4");
// The SDK's type library.
inline constexpr GUID LIBID_OrvexLib = MakeGuid("0b83e474-eb0d-46d2-bccc-908525df9dd1");
// The SDK's frame factory, and the private one.
inline constexpr CLSID CLSID_OXFactory = MakeGuid("acfa9fc8-ac36-43b6-ad9c-78a8ef17002f");
inline constexpr CLSID CLSID_MFactoryPriv = MakeGuid("7dd446fd-b8cd-4d60-a59c-76d36e9fad26");
// Renderer classes of sibling SDK modules.
inline constexpr CLSID CLSID_SiblingRenderer1 = MakeGuid("6b266f23-d276-43f1-931b-2bb736e88677");
inline constexpr CLSID CLSID_SiblingRenderer2 = MakeGuid("30b6e6de-85ef-4039-8793-e0fd8dee6faf");

ORVEX_DECLARE_IID(IOXDevice, "0cdda335-3a71-42f7-902d-f9965aa2319e");
ORVEX_DECLARE_IID(IOXReceiver, "2bba72c6-d6c0-4a87-9a7f-100600a09c67");
ORVEX_DECLARE_IID(IOXProps, "0bb9edd4-9459-437f-8dbe-8e69c19775b6");
ORVEX_DECLARE_IID(IOXFormat, "08c24da2-bf5f-4c33-8b45-992920c4cb2e");
ORVEX_DECLARE_IID(IMAttributes, "b4b73f64-32e4-4e14-ba94-426e55a3c193");
ORVEX_DECLARE_IID(IMNode, "6420d030-e117-4dd5-9aab-6fdb6f0b76f8");
ORVEX_DECLARE_IID(IOXFrame, "581470db-8b69-40c3-aa05-6882900af46b");
ORVEX_DECLARE_IID(IOXFactory, "18f55b09-a315-43f5-b4fa-00f416a12d9b");
ORVEX_DECLARE_IID(IMFrame_I, "f4fe1345-1935-49b4-9dca-d4da288abfe3");
ORVEX_DECLARE_IID(IMFrameSource_I, "e5fb8b30-5b47-4e5f-8816-fe7d85b56515");
ORVEX_DECLARE_IID(IMFactory_I, "18e01a65-f052-430c-a873-25766917e099");

// Private identifiers that reach the same interfaces as IOXProps and IOXFormat; not in the
// type library, the same in every SDK module.
inline constexpr IID IID_IMPrivProps = MakeGuid("c1a6e26e-2a67-4927-847b-22d3c73081f6");
inline constexpr IID IID_IMPrivFormat = MakeGuid("33176dd0-21c9-48ad-8c07-b1b5424511b2");
