// In-memory navigation tables for scan tests: a VMG title table and title sets built field by
// field, so that damaged and hostile layouts can be made exactly.
#pragma once

#include <deque>
#include <map>
#include <vector>

#include <dvdread/ifo_types.h>

#include "dvd/DvdTitleScan.h"

struct FakeChain {
    pgc_t pgc{};
    std::vector<pgc_program_map_t> programs;  // first cell of each program, from 1
    std::vector<cell_playback_t> cells;
};

struct FakeTitleSet {
    ifo_handle_t ifo{};
    vtsi_mat_t mat{};
    vts_ptt_srpt_t pttTable{};
    std::vector<ttu_t> titles;
    std::deque<std::vector<ptt_info_t>> ptts;
    pgcit_t pgcit{};
    std::vector<pgci_srp_t> srps;
    std::deque<FakeChain> chains;
    int64_t vobSectors = 1000000;
};

class FakeNavigation : public DvdNavigationSource {
public:
    FakeNavigation()
    {
        m_vmg.tt_srpt = &m_tt;
    }

    // Adds a chain to set n with one program per entry of programStarts and the given cells
    // (first, last sector); returns its number (from 1).
    int AddChain(int n, const std::vector<int>& programStarts,
                 const std::vector<std::pair<uint32_t, uint32_t>>& cells)
    {
        FakeTitleSet& set = Set(n);
        FakeChain& chain = set.chains.emplace_back();
        for (int p : programStarts)
            chain.programs.push_back(static_cast<pgc_program_map_t>(p));
        for (auto [first, last] : cells) {
            cell_playback_t c{};
            c.first_sector = first;
            c.last_sector = last;
            chain.cells.push_back(c);
        }
        chain.pgc.nr_of_programs = static_cast<uint8_t>(chain.programs.size());
        chain.pgc.nr_of_cells = static_cast<uint8_t>(chain.cells.size());
        chain.pgc.program_map = chain.programs.data();
        chain.pgc.cell_playback = chain.cells.data();
        chain.pgc.playback_time = {0x00, 0x00, 0x10, 0xC0};  // 10 s at 29.97
        pgci_srp_t srp{};
        srp.pgc = &chain.pgc;
        set.srps.push_back(srp);
        Relink(set);
        return static_cast<int>(set.chains.size());
    }

    // Adds title (ttn within set n) whose chapters are the (chain, program) pairs; returns the
    // disc title number from 1. declaredPtts < 0: the VMG declares as many as there are.
    int AddTitle(int n, const std::vector<std::pair<int, int>>& chapters, int declaredPtts = -1)
    {
        FakeTitleSet& set = Set(n);
        auto& list = set.ptts.emplace_back();
        for (auto [chain, program] : chapters) {
            ptt_info_t p{};
            p.pgcn = static_cast<uint16_t>(chain);
            p.pgn = static_cast<uint16_t>(program);
            list.push_back(p);
        }
        Relink(set);
        title_info_t t{};
        t.title_set_nr = static_cast<uint8_t>(n);
        t.vts_ttn = static_cast<uint8_t>(set.ptts.size());
        t.nr_of_ptts = static_cast<uint16_t>(declaredPtts < 0 ? int(chapters.size()) : declaredPtts);
        m_titles.push_back(t);
        m_tt.nr_of_srpts = static_cast<uint16_t>(m_titles.size());
        m_tt.title = m_titles.data();
        return static_cast<int>(m_titles.size());
    }

    FakeTitleSet& Set(int n)
    {
        auto [it, fresh] = m_sets.try_emplace(n);
        if (fresh) {
            FakeTitleSet& set = it->second;
            set.ifo.vtsi_mat = &set.mat;
            set.ifo.vts_ptt_srpt = &set.pttTable;
            set.ifo.vts_pgcit = &set.pgcit;
        }
        return it->second;
    }
    FakeChain& Chain(int n, int chain) { return Set(n).chains[size_t(chain - 1)]; }
    title_info_t& Title(int t) { return m_titles[size_t(t - 1)]; }

    const ifo_handle_t* Vmg() override { return &m_vmg; }
    const ifo_handle_t* TitleSet(int n) override
    {
        const auto it = m_sets.find(n);
        return it == m_sets.end() ? nullptr : &it->second.ifo;
    }
    int64_t TitleVobSectors(int n) override
    {
        const auto it = m_sets.find(n);
        return it == m_sets.end() ? 0 : it->second.vobSectors;
    }


private:
    static void Relink(FakeTitleSet& set)
    {
        set.titles.clear();
        for (auto& list : set.ptts) {
            ttu_t ttu{};
            ttu.nr_of_ptts = static_cast<uint16_t>(list.size());
            ttu.ptt = list.data();
            set.titles.push_back(ttu);
        }
        set.pttTable.nr_of_srpts = static_cast<uint16_t>(set.titles.size());
        set.pttTable.title = set.titles.data();
        set.pgcit.nr_of_pgci_srp = static_cast<uint16_t>(set.srps.size());
        set.pgcit.pgci_srp = set.srps.data();
    }

    ifo_handle_t m_vmg{};
    tt_srpt_t m_tt{};
    std::vector<title_info_t> m_titles;
    std::map<int, FakeTitleSet> m_sets;
};
