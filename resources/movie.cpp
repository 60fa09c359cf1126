// The movie (resource "SWF", id 101): the screens and keys that the movie
// player shows. Written to "update\update.swf" and loaded from there.
#include "resources/movie.h"

#include <cstring>

static const char s_szMovie[] = R"(REFITTER-MOVIE 1
# The update window of the game client.
title "Refitter"
# State 1 follows a finished update, an up-to-date client and every error.
state 0 "准备中"
state 1 "结果"
state 3 "下载中"
state 4 "更新中"
ended "已结束"
key s "开始游戏" StartGame
key o "游戏设置" OptionGame
key m "最小化" MinWindow
key q "关闭" CloseWindow
# Closing waits while the update is prepared or applied.
inactive q 0 4
key n "公告" ReportControlClick 1 ""
)";

const char* Rv_GetMovieData()
{
    return s_szMovie;
}

unsigned Rv_GetMovieSize()
{
    return (unsigned)strlen(s_szMovie);
}
