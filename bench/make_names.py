#!/usr/bin/env python3
"""Writes a deterministic file of realistic Chinese names: surnames by frequency (Zipf over the
common surnames), one- and two-character given names from common given-name characters.

Usage: make_names.py COUNT OUT_GBK OUT_UTF8 [OUT_UTF8_EXT_B] [--rare OUT_UTF8 OUT_GB18030]

OUT_UTF8_EXT_B: the same names in UTF-8 with one character GBK cannot hold (Extension B) in each,
for the cost of characters that are replaced.
--rare: the same names, one in ten with its last character replaced by a character outside GBK
that has a reading (from Extensions A to G and the unified block past GBK), in UTF-8 and GB18030.
"""
import random
import sys

SURNAMES = ("王李张刘陈杨黄赵吴周徐孙马朱胡郭何高林罗郑梁谢宋唐许韩冯邓曹彭曾肖田董袁潘于蒋蔡余杜叶程苏魏吕丁任沈"
            "姚卢姜崔钟谭陆汪范金石廖贾夏韦付方白邹孟熊秦邱江尹薛闫段雷侯龙史陶黎贺顾毛郝龚邵万钱严覃武戴莫孔向汤"
            "单区解仇查朴欧阳司马诸葛上官")
COMPOUND = ("欧阳", "司马", "诸葛", "上官")
GIVEN = ("伟芳娜秀英敏静丽强磊军洋勇艳杰娟涛明超秀兰霞平刚桂英华玉萍红娥玲芬芳燕彩春菊兰凤洁梅琳素云莲真环雪荣"
         "爱妹霞香月莺媛艳瑞凡佳嘉琼勤珍贞莉桂娣叶璧璐娅琦晶妍茜秋珊莎锦黛青倩婷姣婉娴瑾颖露瑶怡婵雁蓓纨仪荷丹蓉"
         "眉君琴蕊薇菁梦岚苑婕馨瑗琰韵融园艺咏卿聪澜纯毓悦昭冰爽琬茗羽希宁欣飘育滢馥筠柔竹霭凝晓欢霄枫芸菲寒伊亚"
         "宜可姬舒影荔枝思丽浩宇轩然泽睿子涵博文俊杰志强建国德华海波斌鹏辉健成家明永健世国栋良清飞彬富顺信子杰涛"
         "昌成康星光天达安岩中茂进林有坚和彪博诚先敬震振壮会思群豪心邦承乐绍功松善厚庆磊民友裕河哲江超浩亮政谦亨"
         "奇固之轮翰朗伯宏言若鸣朋斌梁栋维启克伦翔旭鹏泽晨辰士以建家致树炎德行时泰盛雄琛钧冠策腾楠榕风航弘")


# Characters outside GBK with a reading: Extensions A to G, the unified block past GBK.
RARE = "䶮㐀㛃鿃𠀀𪚥𪞝𫞩𫠥𭀖𰻝"


def main():
    args = sys.argv[1:]
    rare_out = None
    if "--rare" in args:
        at = args.index("--rare")
        rare_out = args[at + 1:at + 3]
        del args[at:at + 3]
    count, out_gbk, out_utf8 = int(args[0]), args[1], args[2]
    rng = random.Random(20261210)
    singles = [c for c in SURNAMES if c not in "".join(COMPOUND)]
    surnames = singles + list(COMPOUND)
    weights = [1.0 / (rank + 1) for rank in range(len(surnames))]
    names = []
    for _ in range(count):
        surname = rng.choices(surnames, weights)[0]
        given = "".join(rng.choice(GIVEN) for _ in range(1 if rng.random() < 0.3 else 2))
        names.append(surname + given)
    text = "\r\n".join(names) + "\r\n"
    with open(out_gbk, "wb") as f:
        f.write(text.encode("gbk"))
    with open(out_utf8, "wb") as f:
        f.write(text.encode("utf-8"))
    if len(args) > 3:
        ext_b = "\U0002A6A5"
        with open(args[3], "wb") as f:
            f.write(("\r\n".join(n[0] + ext_b + n[1:] for n in names) + "\r\n").encode("utf-8"))
    if rare_out:
        rare = "\r\n".join(n[:-1] + RARE[i // 10 % len(RARE)] if i % 10 == 0 else n
                           for i, n in enumerate(names)) + "\r\n"
        with open(rare_out[0], "wb") as f:
            f.write(rare.encode("utf-8"))
        with open(rare_out[1], "wb") as f:
            f.write(rare.encode("gb18030"))


if __name__ == "__main__":
    main()
