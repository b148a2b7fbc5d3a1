// Every identifier of the declaration set, with the text the vendor writes it as.
#pragma once

#include "decklink/api/decklink_api.h"

namespace orvex::test {

struct Identifier {
    const GUID& guid;
    const char* text;
};

inline const Identifier kIdentifiers[] = {
    {IID_IDeckLinkIterator, "50FB36CD-3063-4B73-BDBB-958087F2D8BA"},
    {IID_IDeckLink, "C418FBDD-0587-48ED-8FE5-640F0A14AF91"},
    {IID_IDeckLinkAttributes, "ABC11843-D966-44CB-96E2-A1CB5D3135C4"},
    {IID_IDeckLinkConfiguration, "CB71734A-FE37-4E8D-8E13-802133A1C3F2"},
    {IID_IDeckLinkConfiguration_v10_2, "C679A35B-610C-4D09-B748-1D0478100FC0"},
    {IID_IDeckLinkKeyer, "89AFCAF5-65F8-421E-98F7-96FE5F5BFBA3"},
    {IID_IDeckLinkOutput, "CC5C8A6E-3F2F-4B3A-87EA-FD78AF300564"},
    {IID_IDeckLinkOutput_v9_9, "A3EF0963-0862-44ED-92A9-EE89ABF431C7"},
    {IID_IDeckLinkVideoFrame, "3F716FE0-F023-4111-BE5D-EF4414C05B17"},
    {IID_IDeckLinkMutableVideoFrame, "69E2639F-40DA-4E19-B6F2-20ACE815C390"},
    {IID_IDeckLinkVideoFrameAncillary, "732E723C-D1A4-4E29-9E8E-4A88797A0004"},
    {IID_IDeckLinkTimecode, "BC6CFBD3-8317-4325-AC1C-1216391E9340"},
    {IID_IDeckLinkVideoFrame3DExtensions, "DA0F7E4A-EDC7-48A8-9CDD-2DB51C729CD7"},
    {IID_IDeckLinkMemoryAllocator, "B36EB6E7-9D29-4AA8-92EF-843B87A289E8"},
    {IID_IDeckLinkVideoOutputCallback, "20AA5225-1958-47CB-820B-80A8D521A6EE"},
    {IID_IDeckLinkAudioOutputCallback, "403C681B-7F46-4A12-B993-2BB127084EE6"},
    {IID_IDeckLinkDisplayModeIterator, "9C88499F-F601-4021-B80B-032E4EB41C35"},
    {IID_IDeckLinkDisplayMode, "3EB2C1AB-0A3D-4523-A3AD-F40D7FB14E78"},
    {IID_IDeckLinkScreenPreviewCallback, "B1D3F49A-85FE-4C5D-95C8-0B5D5DCCD438"},
    {CLSID_CDeckLinkIterator, "1F2E109A-8F4F-49E4-9203-135595CB6FA5"},
    {LIBID_DeckLinkAPI, "D864517A-EDD5-466D-867D-C819F1C052BB"},
};

}  // namespace orvex::test
