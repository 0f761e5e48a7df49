// The two keys gorvanel reads, as subkeys of HKEY_LOCAL_MACHINE.
#pragma once

namespace gorvanel_test {

constexpr char kProvider[] =
    "Software\\Talvane\\Kestrin-NLX\\Datumwell\\CurrentVersion";
constexpr char kSite[] =
    "Software\\Talvane\\Vantrel_Capacity_Steward\\Site\\CurrentVersion";

}  // namespace gorvanel_test
