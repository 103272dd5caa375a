// The class ids and the type library id of the server (VEMServerLib 1.0).
//
// Only ComVemServer can be created (CoCreateInstance with CLSID_ComVemServer,
// or the ProgIDs "VemComServer.ComVemServer" and "VemComServer.ComVemServer.1"
// through CLSIDFromProgID); the other classes are made by the server's
// objects and are never registered. ComRecord names the client's record
// (IComRecord).
#pragma once

#include "Platform/WinTypes.h"

// {41F55BCA-E9FB-47E6-984A-A96F22247DF5}
inline constexpr CLSID CLSID_ComVemServer = {
    0x41F55BCA, 0xE9FB, 0x47E6, {0x98, 0x4A, 0xA9, 0x6F, 0x22, 0x24, 0x7D, 0xF5}};
// {F9112D21-5BF9-45FC-A84C-7E98818E3B3E}
inline constexpr CLSID CLSID_ComDataModel = {
    0xF9112D21, 0x5BF9, 0x45FC, {0xA8, 0x4C, 0x7E, 0x98, 0x81, 0x8E, 0x3B, 0x3E}};
// {0DE23384-66D4-495A-A266-2DE5B4D80037}
inline constexpr CLSID CLSID_ComRecordsetStrategy = {
    0x0DE23384, 0x66D4, 0x495A, {0xA2, 0x66, 0x2D, 0xE5, 0xB4, 0xD8, 0x00, 0x37}};
// {92BC0F4F-7E46-44DE-ACAB-5B7AE41B48E0}
inline constexpr CLSID CLSID_ComLoader = {
    0x92BC0F4F, 0x7E46, 0x44DE, {0xAC, 0xAB, 0x5B, 0x7A, 0xE4, 0x1B, 0x48, 0xE0}};
// {97CB383A-6EDF-48AA-A63B-70B41A44F116}
inline constexpr CLSID CLSID_ComSaver = {
    0x97CB383A, 0x6EDF, 0x48AA, {0xA6, 0x3B, 0x70, 0xB4, 0x1A, 0x44, 0xF1, 0x16}};
// {8891D166-12D1-4C2D-8364-E4561FAC925B}
inline constexpr CLSID CLSID_ComBlobStrategy = {
    0x8891D166, 0x12D1, 0x4C2D, {0x83, 0x64, 0xE4, 0x56, 0x1F, 0xAC, 0x92, 0x5B}};
// {6AB35AA8-A35B-4D0C-92B9-F93F02F88121}
inline constexpr CLSID CLSID_ComIOStream = {
    0x6AB35AA8, 0xA35B, 0x4D0C, {0x92, 0xB9, 0xF9, 0x3F, 0x02, 0xF8, 0x81, 0x21}};
// {627D658C-7DF6-4B81-9641-2B8CF330A941}
inline constexpr CLSID CLSID_ComRecord = {
    0x627D658C, 0x7DF6, 0x4B81, {0x96, 0x41, 0x2B, 0x8C, 0xF3, 0x30, 0xA9, 0x41}};

// {CCEEBF08-E3FF-41F6-ABE5-BCA6A1B02AA7}
inline constexpr GUID LIBID_VEMServerLib = {
    0xCCEEBF08, 0xE3FF, 0x41F6, {0xAB, 0xE5, 0xBC, 0xA6, 0xA1, 0xB0, 0x2A, 0xA7}};
inline constexpr USHORT kVEMServerLibMajor = 1;
inline constexpr USHORT kVEMServerLibMinor = 0;

inline constexpr char kVemServerProgId[] = "VemComServer.ComVemServer.1";
inline constexpr char kVemServerVersionIndependentProgId[] = "VemComServer.ComVemServer";
