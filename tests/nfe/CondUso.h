#pragma once
// The condition of use of the CC-e as the screen passes it: the standard's fixed text
// without accents (the other form the schema allows).
#include <QString>

namespace cce_test {

inline const QString kCondUso = QStringLiteral(
    "A Carta de Correcao e disciplinada pelo paragrafo 1o-A do art. 7o do Convenio S/N, de 15 de dezembro de 1970 e "
    "pode ser utilizada para regularizacao de erro ocorrido na emissao de documento fiscal, desde que o erro nao "
    "esteja relacionado com: I - as variaveis que determinam o valor do imposto tais como: base de calculo, "
    "aliquota, diferenca de preco, quantidade, valor da operacao ou da prestacao; II - a correcao de dados "
    "cadastrais que implique mudanca do remetente ou do destinatario; III - a data de emissao ou de saida.");

} // namespace cce_test
