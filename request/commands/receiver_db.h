// What `request` expects of the receiver's two SQLite files.
//
// Software of the receiver outside this program creates and fills both
// files; `request` never creates a table. Only the tables and columns below
// are read by fixed statements. SQL compares identifiers without regard to
// case, so the statements write channelinfo and ChannelInfo, sat_id and
// SAT_ID alike, and the receiver may have created the tables in upper case.
// Column types are not fixed either (a key may be declared without a type);
// keys are stored as integers and compared with bare numbers.
//
// Channel database (PATH_DB_DAT, opened as main):
//
//   channelinfo   ch_id       key; joined with favlistinfo.ch_id; its text is
//                             quoted into the EPG lookup of the current view
//                 name        shown to the user, sorted and matched with LIKE
//                 ch_order    the receiver's channel number, passed to the
//                             front end's remote_change_channel(): a number
//                 cas_type    text beginning with 0: free-to-air, else
//                             encrypted (an empty text included)
//                 media_mode  text beginning with 0: TV, with 1: radio
//                 sat_id      -> SATInfo.sat_id
//                 sdt_id      -> sdtinfo.sdt_id
//   SATInfo       sat_id, name            satellite and its shown name
//   sdtinfo       sdt_id, provider_name   provider, shown lower-cased
//   favlistinfo   ch_id       -> channelinfo.ch_id
//                 name        shown in place of the channel's own name
//                 view_flg    1: shown; any other value hides the entry
//                 favgrp_id   -> FAVGRPInfo.FAVGRP_ID
//                 favlist_seq position within the group
//                 (no column media_mode: the favourites statements name
//                 media_mode without a table prefix)
//   FAVGRPInfo    FAVGRP_ID, Name, FAVGRP_Seq   group, shown name, position
//   media_info    file_name   ends with the recording's file name
//                 play_time, lock   integers, printed unchanged
//
// EPG database (PATH_DBEPG_DAT, attached as epg; named without prefix):
//
//   epginfo       ch_id       compared with the text of channelinfo.ch_id
//                 start_time  printed unchanged
//                 end_time    seconds since 1970 UTC, compared as an integer
//                 event_name, story, ext_story1, ext_story2   texts
//
// scripts/mkdb.py builds both files from a compact description, for tests
// and the demo.
#pragma once
